// A push meter's bytes, 7E1 or 8N1, in any chunks: no telegram is counted that had no "!" line, and rows
// and log stay one account.
#include "FuzzSupport.h"

#include "readout/TelegramReader.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnel;
    FuzzedDataProvider in(data, size);
    test::FuzzLine line;
    TelegramReader reader(line.core.serial, line.core.rows, line.view, line.clock);
    line.core.serial.m_eightBits = in.ConsumeBool();
    const int count = in.ConsumeIntegralInRange(1, 5);
    reader.Start(9600, count);
    line.Feed(in, [&] { reader.OnReceiveTick(); });
    const auto endLines = std::count_if(line.view.rows.begin(), line.view.rows.end(), [](const auto& r) {
        return r.hasColumns && r.text.rfind('!', 0) == 0;
    });
    FUZZ_CHECK(reader.Telegrams() <= count && reader.Telegrams() <= endLines);
    line.CheckRowsAndLog();
    return 0;
}
