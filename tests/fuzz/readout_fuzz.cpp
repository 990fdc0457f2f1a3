// Bytes from the line, in any chunks and with any silences, through the readout engine with any baud
// choices and device address: rows, labels and the trace log stay one account.
#include "FuzzSupport.h"

#include "core/ControlIds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnel;
    FuzzedDataProvider in(data, size);
    test::FuzzLine line;
    line.view.comboSelection[IDC_INITIAL_BAUD] = in.ConsumeIntegralInRange(0, 9);
    line.view.comboSelection[IDC_TRANSMIT_BAUD] = in.ConsumeIntegralInRange(0, 9);
    static const char* const addresses[] = {"", "1", "4711 A", "12345678901234567890123456789012"};
    line.core.engine.SetAddress(addresses[in.ConsumeIntegralInRange(0, 3)]);
    line.core.engine.StartReadout();
    line.Feed(in, [&] { line.core.engine.OnReceiveTick(); });
    line.CheckRowsAndLog();
    return 0;
}
