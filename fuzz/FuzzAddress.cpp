// Address text fed arbitrary bytes: the checked parse with its normal form, and the
// socket layer's lenient conversion.
//
// A valid text must format to a normal form that parses to the same value and formats
// to itself; the value with leading zeros parses to the same value too; the socket
// layer reads the normal form to the same address in network byte order.

#include "FuzzCheck.h"
#include "NBSockets30.h"
#include "UnitProc.h"

#include <string>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TAddressValue value{9, 9, 9, 9};
    const bool valid = ParseAddress(text, value);
    Expect(SameAddress(AddressValue(text), value), "AddressValue differs from ParseAddress");
    if (valid)
        CheckNormalForm(value);
    AddressFromText(text);
    return 0;
}
