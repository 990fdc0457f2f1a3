#include "CliView.h"

#include "core/ControlIds.h"
#include "readout/BaudChoices.h"
#include "serial/SerialLine.h"

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
        m_out << "Data,Code (OBIS),Value\r\n" << std::flush;
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
    m_jsonRows.clear();
}

void CliView::EnsureRowVisible(int)
{
    if (m_hasPending) {
        Emit(m_pending);
        m_hasPending = false;
    }
}

void CliView::Emit(const Row& row)
{
    switch (m_options.format) {
    case Format::Text:
        m_out << row.data;
        if (row.hasColumns)
            m_out << '\t' << row.code << '\t' << row.value;
        m_out << '\n';
        break;
    case Format::Csv:
        m_out << CsvField(row.data) << ',' << CsvField(row.code) << ',' << CsvField(row.value) << "\r\n";
        break;
    case Format::Json: m_jsonRows.push_back(row); return;
    }
    m_out.flush();
}

void CliView::Finish()
{
    if (m_hasPending) {
        Emit(m_pending);
        m_hasPending = false;
    }
    if (m_options.format == Format::Text) {
        m_out << "Baud rate : " << m_texts[IDC_BAUD_LABEL] << '\n'
              << "Protocol : " << m_texts[IDC_PROTOCOL_LABEL] << '\n'
              << "FLAG : " << m_texts[IDC_FLAG_LABEL] << '\n'
              << "Description : " << m_texts[IDC_DESCRIPTION_LABEL] << '\n';
    } else if (m_options.format == Format::Json) {
        m_out << "{\"baudRate\": " << JsonString(m_texts[IDC_BAUD_LABEL])
              << ", \"protocol\": " << JsonString(m_texts[IDC_PROTOCOL_LABEL])
              << ", \"flag\": " << JsonString(m_texts[IDC_FLAG_LABEL])
              << ", \"description\": " << JsonString(m_texts[IDC_DESCRIPTION_LABEL]) << ", \"rows\": [";
        for (std::size_t i = 0; i < m_jsonRows.size(); ++i) {
            const Row& r = m_jsonRows[i];
            m_out << (i ? ",\n  " : "\n  ") << "{\"data\": " << JsonString(r.data);
            if (r.hasColumns)
                m_out << ", \"code\": " << JsonString(r.code) << ", \"value\": " << JsonString(r.value);
            m_out << '}';
        }
        m_out << (m_jsonRows.empty() ? "]" : "\n]");
        if (!m_logLoss.empty())
            m_out << ", \"log\": " << JsonString("not written: " + m_logLoss);
        m_out << "}\n";
    }
    m_out.flush();
}

std::string CsvField(const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
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

} // namespace varnel::cli
