// Every captured meter response is served by the simulated meter on a
// pseudo-terminal and read by varnel-read. The rows must be those the reader's
// rules give for the bytes the meter sent: no crash, no lost or extra line.
#include "MeterData.h"
#include "PtyMeter.h"
#include "PushMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace varnel::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Row {
    std::string data, code, value;
    bool operator==(const Row& o) const { return data == o.data && code == o.code && value == o.value; }
};

std::ostream& operator<<(std::ostream& out, const Row& row)
{
    return out << '[' << row.data << "] [" << row.code << "] [" << row.value << ']';
}

struct Expected {
    std::vector<Row> rows;
    bool endedAtBcc = false;
    bool overflow = false;  // a 1000-byte line: what follows depends on read boundaries
};

// The reader's row rules, written out independently as a test oracle, for a
// readout that starts at the sign-on and ends at the block check byte or the
// time-out. Received bytes count with 7 bits; a line's text ends at the CR of
// CR LF, at a lone LF, or at a NUL; a value ends at the first '*' or ')'.
Expected ReferenceRows(const std::string& received)
{
    enum { Ident, AwaitStx, Data, AwaitBcc } state = Ident;
    Expected out;
    std::string line;
    const auto text = [&] {
        std::string t = line;
        if (t.size() >= 2 && t.compare(t.size() - 2, 2, "\r\n") == 0)
            t.resize(t.size() - 2);
        else if (!t.empty() && t.back() == '\n')
            t.pop_back();
        return t.substr(0, t.find('\0'));
    };
    const auto plain = [&](const std::string& t) { out.rows.push_back({t, {}, {}}); };
    for (const char raw : received) {
        const char c = static_cast<char>(raw & 0x7F);
        line += c;
        if (line.size() > 999) {
            plain(line.substr(0, std::min<std::size_t>(999, line.find('\0'))));
            line.clear();
            out.overflow = true;
            continue;
        }
        if (state == AwaitStx) {
            if (c == '\x02') {
                plain(" -- STX -- ");
                state = Data;
                line.clear();
                continue;
            }
            char hex[16];
            std::snprintf(hex, sizeof hex, "--- 0x%02X ---", static_cast<unsigned>(c));
            plain(hex);
        } else if (state == Ident && c == '\n') {
            plain(line[0] == '/' ? text() : " -- Identification error -- ");
            if (line != "/?!\r\n")  // the probe's echo of the request
                state = AwaitStx;
            line.clear();
        } else if (state == Data && c == '\n') {
            const std::string t = text();
            Row row{t, {}, {}};
            const auto open = t.find('(');
            if (open != std::string::npos && open > 0) {
                row.code = t.substr(0, open);
                const auto close = t.find_first_of("*)", open);
                if (close != std::string::npos)
                    row.value = t.substr(open + 1, close - open - 1);
            }
            out.rows.push_back(row);
            line.clear();
        } else if (state == Data && (c == '\x03' || c == '\x04')) {
            plain(c == '\x03' ? " -- ETX -- " : " -- EOT -- ");
            state = AwaitBcc;
        } else if (state == AwaitBcc) {
            plain(" -- BCC -- ");
            out.endedAtBcc = true;
            return out;
        }
    }
    plain(" -- Tout -- ");
    return out;
}

// RFC 4180: fields may be quoted, quotes doubled, line breaks inside quotes.
std::vector<Row> ParseCsv(const std::string& csv)
{
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        std::string& field = records.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"')
                field += csv[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            records.back().emplace_back();
        } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
            ++i;
            records.emplace_back(1);
        } else {
            field += c;
        }
    }
    if (records.back().size() == 1 && records.back()[0].empty())
        records.pop_back();
    std::vector<Row> rows;
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].size(), 3u) << "CSV record " << i;
        records[i].resize(3);
        if (i == 0)
            EXPECT_EQ(records[i], (std::vector<std::string>{"Data", "Code (OBIS)", "Value"}));
        else
            rows.push_back({records[i][0], records[i][1], records[i][2]});
    }
    return rows;
}

struct RunResult {
    int exitCode = -1;
    std::string out;
};

RunResult RunReader(const std::string& device, const fs::path& dir, const std::string& extra = "")
{
    const std::string reader = std::string(VARNEL_BINARY_DIR) + "/src/cli/varnel-read";
    const std::string command = "cd '" + dir.string() + "' && XDG_CONFIG_HOME='" + dir.string()
        + "' exec '" + reader + "' --port '" + device + "' --format csv" + extra + " 2>/dev/null";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        result.out.append(buf, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::string> Captures()
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(VARNEL_CORPUS_DIR, ec)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".bin" || ext == ".txt"))
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    if (names.empty())
        names.push_back("none");  // the one test then says why it skips
    return names;
}

class MeterSimReplay : public testing::TestWithParam<std::string> {};

TEST_P(MeterSimReplay, ReaderRowsMatchTheBytesSent)
{
    if (GetParam() == "none" || !fs::is_directory(VARNEL_CORPUS_DIR))
        GTEST_SKIP() << "no captures: the corpus folder " << VARNEL_CORPUS_DIR << " is absent or empty";

    MeterConfig config;
    std::string error;
    ASSERT_TRUE(LoadDataFile(std::string(VARNEL_CORPUS_DIR) + "/" + GetParam(), config, false, error)) << error;
    // Push meters (mode D, P1) are served as such and read with --listen.
    const bool push = GetParam().find("modeD") != std::string::npos || GetParam().find("_p1") != std::string::npos;
    auto pushMeter = std::make_unique<PushMeter>(config, 500ms, false);
    const std::string telegram = pushMeter->Telegram();
    PtyMeter meter = push ? PtyMeter(std::move(pushMeter), "") : PtyMeter(config);
    ASSERT_EQ(meter.Start(error), PtyMeter::StartResult::Ok) << error;

    const fs::path dir = fs::path(testing::TempDir()) / ("replay-" + GetParam());
    fs::create_directories(dir);
    const RunResult run = RunReader(meter.DevicePath(), dir, push ? " --listen" : "");
    ASSERT_TRUE(meter.WaitForReports(1, 120s)) << "the meter saw no complete readout";
    meter.Stop();

    const ReadoutReport report = meter.Reports().front();
    EXPECT_EQ(report.outcome, "complete");
    EXPECT_EQ(report.signOnBaud, push ? 0 : 300);
    // A telegram's rows are a block's without STX, ETX and BCC, up to its "!" line.
    const std::size_t blank = telegram.find("\r\n\r\n") + 4, end = telegram.find("\n!", blank);
    Expected expected = ReferenceRows(push ? telegram.substr(0, blank - 2) + "\x02"
                + telegram.substr(blank, telegram.find('\n', end + 1) + 1 - blank) + "\x03\x01" : report.sent);
    if (push)
        expected.rows.erase(std::remove_if(expected.rows.begin(), expected.rows.end(), [](const Row& r) {
            return r.data == " -- STX -- " || r.data == " -- ETX -- " || r.data == " -- BCC -- ";
        }), expected.rows.end());
    ASSERT_FALSE(expected.overflow) << "a line of 1000 bytes or more: rows depend on read boundaries";
    EXPECT_EQ(run.exitCode, expected.endedAtBcc ? 0 : 2);
    EXPECT_EQ(ParseCsv(run.out), expected.rows);
    EXPECT_TRUE(fs::exists(dir / "Log1107.txt"));
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Corpus, MeterSimReplay, testing::ValuesIn(Captures()),
    [](const testing::TestParamInfo<std::string>& info) {
        std::string name = info.param;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

} // namespace
} // namespace varnel::sim
