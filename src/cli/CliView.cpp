#include "CliView.h"

#include "core/ControlIds.h"
#include "readout/BaudChoices.h"
#include "readout/RowText.h"
#include "serial/SerialLine.h"

#include <QDateTime>
#include <QTimer>

#include <cstdio>

namespace varnel::cli {

CliView::CliView(const Options& options, std::ostream& out, std::ostream& err)
    : m_options(options),
      m_out(out),
      m_err(err)
{
    m_texts[IDC_BAUD_LABEL] = kInitialBaudItems[0];
    m_texts[IDC_PROTOCOL_LABEL] = "?";
    m_texts[IDC_FLAG_LABEL] = "?";
    m_texts[IDC_DESCRIPTION_LABEL] = "?";
    if (m_options.format == Format::Csv)
        m_out << kCsvHeader << std::flush;
}

CliView::~CliView() = default;

int CliView::ComboSelection(int id) const
{
    if (id == IDC_INITIAL_BAUD)
        return m_options.initialBaudIndex;
    if (id == IDC_TRANSMIT_BAUD)
        return m_options.transmitBaudIndex;
    return -1;
}

std::string CliView::ComboItemText(int id, int index) const
{
    const auto& items = id == IDC_INITIAL_BAUD ? kInitialBaudItems : kTransmitBaudItems;
    if ((id != IDC_INITIAL_BAUD && id != IDC_TRANSMIT_BAUD) || index < 0
        || index >= static_cast<int>(items.size()))
        return {};
    return items[static_cast<std::size_t>(index)];
}

bool CliView::IsChecked(int id) const
{
    // RTS and DTR stay raised, as the window's boxes are at start; an optical
    // probe draws its power from them.
    return id == IDC_RTS || id == IDC_DTR;
}

void CliView::StartTimer(int id, std::chrono::milliseconds period)
{
    auto& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        QObject::connect(timer.get(), &QTimer::timeout, [this, id] {
            if (onTimer)
                onTimer(id);
        });
    }
    timer->start(static_cast<int>(period.count()));
}

void CliView::StopTimer(int id)
{
    if (auto it = m_timers.find(id); it != m_timers.end())
        it->second->stop();
}

void CliView::ShowMessage(const std::string& text, MessageIcon)
{
    m_err << text;
    if (m_serial) {
        m_err << ": " << m_serial->PortName();
        const std::string device = m_serial->DeviceName();
        if (!device.empty() && device != m_serial->PortName())
            m_err << " (" << device << ")";
        if (!m_serial->OpenError().empty())
            m_err << ": " << m_serial->OpenError();
    }
    m_err << '\n' << std::flush;
}

void CliView::InsertRow(int, const std::string& text)
{
    if (m_hasPending)
        Emit(m_pending);
    m_pending = Row{text, {}, {}, false};
    m_hasPending = true;
}

void CliView::SetRowColumns(int, const std::string& code, const std::string& value)
{
    m_pending.code = code;
    m_pending.value = value;
    m_pending.hasColumns = true;
}

void CliView::DeleteAllRows()
{
    m_hasPending = false;
    m_heldRows.clear();
}

void CliView::EnsureRowVisible(int)
{
    FlushPending();
}

void CliView::FlushPending()
{
    if (m_hasPending) {
        Emit(m_pending);
        m_hasPending = false;
    }
}

bool CliView::HoldsRows() const
{
    return m_options.format == Format::Json || m_options.format == Format::Jsonl
           || (m_options.format == Format::Csv && m_options.retries > 0);
}

void CliView::Emit(const Row& row)
{
    if (HoldsRows()) {
        m_heldRows.push_back(row);
        return;
    }
    if (m_options.format == Format::Csv) {
        m_out << CsvRecord(row.data, row.code, row.value);
    } else {
        m_out << row.data;
        if (row.hasColumns)
            m_out << '\t' << row.code << '\t' << row.value;
        m_out << '\n';
    }
    m_out.flush();
}

void CliView::Finish(BlockCheckResult check, std::int64_t utcMs)
{
    FlushPending();
    switch (m_options.format) {
    case Format::Text:
        m_out << "Baud rate : " << m_texts[IDC_BAUD_LABEL] << '\n'
              << "Protocol : " << m_texts[IDC_PROTOCOL_LABEL] << '\n'
              << "FLAG : " << m_texts[IDC_FLAG_LABEL] << '\n'
              << "Description : " << m_texts[IDC_DESCRIPTION_LABEL] << '\n';
        break;
    case Format::Csv:
        for (const Row& r : m_heldRows)
            m_out << CsvRecord(r.data, r.code, r.value);
        break;
    case Format::Json: PrintObject(check, {}); break;
    case Format::Jsonl:
        if (!m_heldRows.empty())
            EndTelegram(BlockCheckResult::None, utcMs);
        break;
    }
    m_heldRows.clear();
    m_out.flush();
}

void CliView::EndTelegram(BlockCheckResult check, std::int64_t utcMs)
{
    FlushPending();
    PrintObject(check, UtcTimeText(utcMs));
    m_heldRows.clear();
    m_out.flush();
}

void CliView::PrintObject(BlockCheckResult check, const std::string& ended)
{
    static constexpr const char* kCheck[] = {"none", "ok", "error"};
    // jsonl: the whole object on one line.
    const char* const separator = ended.empty() ? "\n  " : " ";
    m_out << "{\"baudRate\": " << JsonString(m_texts[IDC_BAUD_LABEL])
          << ", \"protocol\": " << JsonString(m_texts[IDC_PROTOCOL_LABEL])
          << ", \"flag\": " << JsonString(m_texts[IDC_FLAG_LABEL])
          << ", \"description\": " << JsonString(m_texts[IDC_DESCRIPTION_LABEL]) << ", \"rows\": [";
    for (std::size_t i = 0; i < m_heldRows.size(); ++i) {
        const Row& r = m_heldRows[i];
        m_out << (i ? "," : "") << separator << "{\"data\": " << JsonString(r.data);
        if (r.hasColumns) {
            m_out << ", \"code\": " << JsonString(r.code) << ", \"value\": " << JsonString(r.value);
            if (const auto unit = DataLineUnit(r.data))
                m_out << ", \"unit\": " << JsonString(*unit);
            if (const auto number = DecimalNumber(r.value))
                m_out << ", \"number\": " << *number;
        }
        m_out << '}';
    }
    m_out << (m_heldRows.empty() ? ""
              : ended.empty()    ? "\n"
                                 : " ")
          << "], \"blockCheck\": \"" << kCheck[static_cast<int>(check)] << '"';
    // Counted only where the port checks parity itself; absent where a UART does, unseen.
    if (const auto parityErrors = m_serial ? m_serial->ParityErrors() : std::nullopt)
        m_out << ", \"parityErrors\": " << *parityErrors;
    if (!m_logLoss.empty())
        m_out << ", \"log\": " << JsonString("not written: " + m_logLoss);
    if (!ended.empty())
        m_out << ", \"ended\": \"" << ended << '"';
    m_out << "}\n";
}

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                // Bytes from the line are 7-bit; anything else is shown, not trusted as UTF-8.
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04X", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + '"';
}

std::string UtcTimeText(std::int64_t utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs).toStdString();
}

} // namespace varnel::cli
