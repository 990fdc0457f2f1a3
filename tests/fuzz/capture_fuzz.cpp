// Any capture file for --replay: either an error that names the file and a line of it, or records that,
// written out again in the capture format, read back as the same records.
#include "FuzzSupport.h"

#include "PushMeter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnel;
    test::TempDir dir;
    const std::string file = dir.File("cap.txt");
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    std::vector<sim::CaptureRecord> records, again;
    std::string error;
    if (sim::LoadCapture(file, records, error) != sim::CaptureLoad::Ok) {
        const std::size_t lines = static_cast<std::size_t>(std::count(data, data + size, '\n')) + 1;
        const std::string where = error.substr(0, error.find(": "));
        FUZZ_CHECK(
            error == file + ": no records"
            || (where.rfind(file + ":", 0) == 0 && std::stoul(where.substr(file.size() + 1)) <= lines));
        return 0;
    }
    std::string text = "# written again\n";
    for (const auto& r : records) {
        text += std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(r.at).count())
                + (r.fromReader ? " >" : " <");
        for (const unsigned char b : r.bytes)
            text += {' ', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
        text += '\n';
    }
    std::ofstream(file, std::ios::binary) << text;
    FUZZ_CHECK(
        sim::LoadCapture(file, again, error) == sim::CaptureLoad::Ok
        && std::equal(again.begin(), again.end(), records.begin(), records.end(), [](auto& x, auto& y) {
               return x.at == y.at && x.fromReader == y.fromReader && x.bytes == y.bytes;
           }));
    return 0;
}
