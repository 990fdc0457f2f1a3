// Any command line of varnel-read: a usage error that the program answers with exit status 64 and nothing
// else done, or a consistent options object, whatever options there are; none is ever half taken.
#include "FuzzSupport.h"

#include "CliOptions.h"
#include "ReadRun.h"

#include "readout/BaudChoices.h"
#include "readout/DeviceAddress.h"

#include <iterator>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnel;
    // Arguments are the input's NUL-separated pieces; a few names of options make them likely.
    static std::istringstream list(
        "--port --initial-baud --transmit-baud --format --address --listen --count "
        "--framing --capture --help --version auto 9600 115200 8N1 json COM1");
    static const std::vector<std::string> words{std::istream_iterator<std::string>(list), {}};
    FuzzedDataProvider in(data, size);
    std::vector<std::string> args;
    while (in.remaining_bytes() > 0)
        args.push_back(in.ConsumeBool() ? words[in.ConsumeIntegralInRange<std::size_t>(0, words.size() - 1)]
                                        : in.ConsumeRandomLengthString(40));
    std::string error;
    const auto options = cli::ParseOptions(args, error);
    if (!options) {
        test::FakeClock clock;
        test::FakePort port(&clock);
        test::TempDir dir;
        std::ostringstream out, err;
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(cli::RunProgram(args, port, clock, out, err,
                                   {dir.File("Varnel.ini"), dir.File("Log1107.txt")}, {})
                   == cli::kExitUsage);
        FUZZ_CHECK(out.str().empty() && err.str() == "varnel-read: " + error + "\n" + cli::Usage());
        FUZZ_CHECK(port.calls.empty() && std::filesystem::is_empty(dir.Path()));
        return 0;
    }
    const cli::Options& o = *options;
    const auto items = static_cast<int>(kInitialBaudItems.size());
    FUZZ_CHECK(o.initialBaudIndex >= 0 && o.initialBaudIndex < items && o.transmitBaudIndex >= 0
               && o.transmitBaudIndex < items);
    FUZZ_CHECK(o.address.empty() || IsValidDeviceAddress(o.address));
    FUZZ_CHECK(!o.listen ? o.count == cli::Options{}.count && !o.eightBits : o.address.empty());
    const int rate = o.initialBaudIndex > 0
                         ? std::atoi(kInitialBaudItems[static_cast<std::size_t>(o.initialBaudIndex)])
                     : o.eightBits && o.listenBaud == 115200 ? 115200
                                                             : 9600;
    FUZZ_CHECK(o.listenBaud == rate);
    return 0;
}
