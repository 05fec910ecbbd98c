// Address text fed arbitrary bytes: the checked parse with its normal form, the address
// with a port, and the socket layer's lenient conversion.
//
// A valid text must format to a normal form that parses to the same value and formats
// to itself; the value with leading zeros parses to the same value too; the socket
// layer reads the normal form to the same address in network byte order. A text
// without a colon reads with a port exactly as without, on the device's port; a valid
// text with a port has a normal form that reads back to the same address and port.

#include "FuzzCheck.h"
#include "NBSockets30.h"
#include "UnitProc.h"

#include <string>
#include <string_view>

namespace {

std::uint32_t NetworkOrder(const TAddressValue& value) {
    return static_cast<std::uint32_t>(value[0]) | static_cast<std::uint32_t>(value[1]) << 8 |
           static_cast<std::uint32_t>(value[2]) << 16 | static_cast<std::uint32_t>(value[3]) << 24;
}

bool ParsesTo(const std::string& text, const TAddressValue& expected) {
    TAddressValue value{};
    return ParseAddress(text, value) && SameAddress(value, expected);
}

void CheckNormalForm(const TAddressValue& value) {
    const std::string normal = FormatAddress(value);
    Expect(ParsesTo(normal, value), "the normal form does not parse back to its value");
    Expect(FormatAddress(AddressValue(normal)) == normal, "the normal form is not stable");
    Expect(ParsesTo(FormatAddressWith(value, "%03d"), value), "leading zeros change the value");
    Expect(AddressFromText(normal) == NetworkOrder(value),
           "the socket layer reads the normal form differently");
}

void CheckEndpointForm(const TEndpoint& endpoint) {
    const std::string normal = FormatEndpoint(endpoint);
    TEndpoint again;
    Expect(ParseEndpoint(normal, again) && again == endpoint,
           "the normal form with a port does not parse back to its value");
    Expect(FormatEndpoint(again) == normal, "the normal form with a port is not stable");
    Expect((normal.find(':') == std::string::npos) == (endpoint.Port == DEVICE_PORT),
           "the normal form shows the device's port or hides another");
}

// text read as an endpoint; validAddress and value are what ParseAddress made of it.
void CheckEndpoint(const std::string& text, bool validAddress, const TAddressValue& value) {
    TEndpoint endpoint{{9, 9, 9, 9}, 9};
    const bool valid = ParseEndpoint(text, endpoint);
    Expect(EndpointValue(text) == endpoint, "EndpointValue differs from ParseEndpoint");
    Expect(endpoint.Port >= 1 && endpoint.Port <= 65535, "a port out of range was left");
    if (std::string_view(text.c_str()).find(':') == std::string_view::npos)
        Expect(valid == validAddress && endpoint.Address == value && endpoint.Port == DEVICE_PORT,
               "an address without a port reads differently as an endpoint");
    Expect(valid == EndpointProblem(text).empty(), "the problem text disagrees with the parse");
    if (valid)
        CheckEndpointForm(endpoint);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TAddressValue value{9, 9, 9, 9};
    const bool valid = ParseAddress(text, value);
    Expect(SameAddress(AddressValue(text), value), "AddressValue differs from ParseAddress");
    if (valid)
        CheckNormalForm(value);
    CheckEndpoint(text, valid, value);
    AddressFromText(text);
    return 0;
}
