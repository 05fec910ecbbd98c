#include "IntegerText.h"
#include "UnitProc.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>
#include <ostream>
#include <string>

// ThreadSanitizer's runtime brings its own operator new, which cannot be replaced there.
#if defined(__SANITIZE_THREAD__)
#define COUNTS_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define COUNTS_ALLOCATIONS 0
#endif
#endif
#ifndef COUNTS_ALLOCATIONS
#define COUNTS_ALLOCATIONS 1
#endif

// Every allocation of the test process passes here, so a test can count the bytes a
// call allocates.
namespace {
std::atomic<bool> countAllocations{false};
std::atomic<std::size_t> allocatedBytes{0};
} // namespace

#if COUNTS_ALLOCATIONS
void* operator new(std::size_t size) {
    if (countAllocations)
        allocatedBytes += size;
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

// Pairs with the malloc above; GCC cannot see that and warns about every delete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept {
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
#pragma GCC diagnostic pop
#endif

namespace {

struct AddressCase {
    std::string text;
    bool valid;
    std::string value; // the value left behind, in normal form
};

void PrintTo(const AddressCase& c, std::ostream* out) {
    if (c.text.empty())
        *out << "empty";
    for (const char ch : c.text)
        *out << (ch > ' ' && ch < 127 ? ch : '_');
}

class AddressText : public testing::TestWithParam<AddressCase> {};

TEST_P(AddressText, ParsesToTheExpectedValue) {
    const AddressCase& c = GetParam();
    TAddressValue value{9, 9, 9, 9};
    EXPECT_EQ(ParseAddress(c.text, value), c.valid);
    EXPECT_EQ(FormatAddress(value), c.value);
    EXPECT_EQ(FormatAddress(AddressValue(c.text)), c.value);
    // Without a colon, an endpoint is the address on the device's port.
    TEndpoint endpoint;
    EXPECT_EQ(ParseEndpoint(c.text, endpoint), c.valid);
    EXPECT_EQ(FormatEndpoint(endpoint), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AddressText,
    testing::Values(
        // valid texts and their normal form
        AddressCase{"10.0.0.5", true, "10.0.0.5"},
        AddressCase{" 192.168.001.010 \t", true, "192.168.1.10"},
        AddressCase{"0.0.0.0", true, "0.0.0.0"}, AddressCase{"10.0.0.255", true, "10.0.0.255"},
        AddressCase{"1 2.3.4", true, "1.2.3.4"}, AddressCase{"1 . 2 .3. 4", true, "1.2.3.4"},
        AddressCase{"$C0.168.0.1", true, "192.168.0.1"},
        AddressCase{"0xC0.168.0.1", true, "192.168.0.1"},
        AddressCase{"xff.Xa.0X0.+7", true, "255.10.0.7"},
        AddressCase{"\"10\".\" 0 \".0.1", true, "10.0.0.1"},
        AddressCase{"-0.0.0.1", true, "0.0.0.1"},
        AddressCase{std::string("1.2.3.4\0.5", 10), true, "1.2.3.4"},
        // wrong field count: nothing kept
        AddressCase{"192.168.1", false, "0.0.0.0"}, AddressCase{"192.168.1.1.", false, "0.0.0.0"},
        AddressCase{"1.2.3.4.5", false, "0.0.0.0"}, AddressCase{"", false, "0.0.0.0"},
        AddressCase{"1 2 3.4.5", false, "0.0.0.0"},
        // bad field: the numbers before it are kept
        AddressCase{"192..168.1", false, "192.0.0.0"}, AddressCase{"10.0.0.256", false, "10.0.0.0"},
        AddressCase{"10.0.0.-1", false, "10.0.0.0"}, AddressCase{"10.0.abc.1", false, "10.0.0.0"},
        AddressCase{"10.0.1.1a", false, "10.0.1.0"}, AddressCase{".1.2.3", false, "0.0.0.0"},
        AddressCase{"10.$.1.2", false, "10.0.0.0"},
        AddressCase{"10.0.0.4294967297", false, "10.0.0.0"},
        // odd bytes: control characters at either end go, any other byte spoils its field
        AddressCase{"\x01\x1f"
                    "10.0.0.1\r\n",
                    true, "10.0.0.1"},
        AddressCase{"10.0.0.1\x7f", false, "10.0.0.0"},
        AddressCase{"10.0.0.1\xc2\xa0", false, "10.0.0.0"},
        AddressCase{"\xef\xbc\x91.2.3.4", false, "0.0.0.0"},
        AddressCase{"\"10.0.0.1", false, "0.0.0.0"}, AddressCase{"+0x0A.0.0.1", true, "10.0.0.1"},
        // 64 characters at most, blanks around the text aside
        AddressCase{"1.2.3." + std::string(57, '0') + "4", true, "1.2.3.4"},
        AddressCase{" \t" + std::string(57, '0') + "1.2.3.4 \r\n", true, "1.2.3.4"},
        AddressCase{"1.2.3." + std::string(58, '0') + "4", false, "0.0.0.0"},
        AddressCase{"1.2.3." + std::string(300, '0') + "4", false, "0.0.0.0"},
        AddressCase{std::string(300, '1'), false, "0.0.0.0"}));

struct EndpointCase {
    std::string text;
    std::string value;   // the value left behind, in normal form
    std::string problem; // "" for a valid text
};

void PrintTo(const EndpointCase& c, std::ostream* out) {
    PrintTo(AddressCase{c.text, false, ""}, out);
}

class EndpointText : public testing::TestWithParam<EndpointCase> {};

TEST_P(EndpointText, ParsesToTheExpectedValue) {
    const EndpointCase& c = GetParam();
    TEndpoint endpoint{{9, 9, 9, 9}, 9};
    EXPECT_EQ(ParseEndpoint(c.text, endpoint), c.problem.empty());
    EXPECT_EQ(FormatEndpoint(endpoint), c.value);
    EXPECT_EQ(EndpointValue(c.text), endpoint);
    EXPECT_EQ(EndpointProblem(c.text), c.problem);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndpointText,
    testing::Values(
        // valid texts and their normal form: no port for the device's own
        EndpointCase{"10.0.0.5:10017", "10.0.0.5:10017", ""},
        EndpointCase{" 010.0.0.5:00080 \r\n", "10.0.0.5:80", ""},
        EndpointCase{"10.0.0.5:10001", "10.0.0.5", ""},
        EndpointCase{"10.0.0.5 :1", "10.0.0.5:1", ""},
        EndpointCase{"10.0.0.5:65535", "10.0.0.5:65535", ""},
        EndpointCase{std::string("1.2.3.4\0:80", 10), "1.2.3.4", ""},
        // bad port: the address is kept, on the device's port
        EndpointCase{"10.0.0.5:0", "10.0.0.5", "invalid port \"0\""},
        EndpointCase{"10.0.0.5:65536", "10.0.0.5", "invalid port \"65536\""},
        EndpointCase{"10.0.0.5:", "10.0.0.5", "invalid port \"\""},
        EndpointCase{"10.0.0.5:8o", "10.0.0.5", "invalid port \"8o\""},
        EndpointCase{"10.0.0.5:0x50", "10.0.0.5", "invalid port \"0x50\""},
        EndpointCase{"10.0.0.5: 80", "10.0.0.5", "invalid port \" 80\""},
        EndpointCase{"10.0.0.5:+80", "10.0.0.5", "invalid port \"+80\""},
        EndpointCase{"10.0.0.5:000080", "10.0.0.5", "invalid port \"000080\""},
        EndpointCase{"10.0.0.5:80:81", "10.0.0.5", "invalid port \"80:81\""},
        EndpointCase{"10.0.0.5:" + std::string(30, '8'), "10.0.0.5",
                     "invalid port \"" + std::string(30, '8') + "\""},
        // bad address: named before the port is looked at
        EndpointCase{"10.0.0.256:0", "10.0.0.0", "invalid IP address \"10.0.0.256\""},
        EndpointCase{":80", "0.0.0.0", "invalid IP address \"\""},
        EndpointCase{"10.0.0:80", "0.0.0.0", "invalid IP address \"10.0.0\""},
        EndpointCase{" 300.0.0.1 ", "0.0.0.0", "invalid IP address \"300.0.0.1\""}));

// A settings value can be as long as the file; an overlong text is refused before it is
// split into fields, in constant time and memory.
TEST(AddressText, SixteenMegabytesAreRefusedQuicklyWithoutAllocating) {
    const std::string filling(16U << 20, '8');
    for (const std::string& text : {std::string(16U << 20, '.'), std::string(16U << 20, ' '),
                                    filling, std::string(16U << 20, ':'), "1.2.3.4:" + filling}) {
        SCOPED_TRACE(text.substr(0, 9));
        TAddressValue value{9, 9, 9, 9};
        TEndpoint endpoint;
        allocatedBytes = 0;
        countAllocations = true;
        const auto start = std::chrono::steady_clock::now();
        const bool valid = ParseAddress(text, value);
        const TAddressValue left = AddressValue(text);
        const bool validEndpoint = ParseEndpoint(text, endpoint);
        const auto took = std::chrono::steady_clock::now() - start;
        countAllocations = false;
        EXPECT_FALSE(valid);
        EXPECT_FALSE(validEndpoint);
        EXPECT_EQ(FormatAddress(value), "0.0.0.0");
        EXPECT_EQ(FormatAddress(left), "0.0.0.0");
        // Under ThreadSanitizer every byte looked at is slow, and nothing can be counted.
        if (COUNTS_ALLOCATIONS) {
            EXPECT_LT(allocatedBytes.load(), 4096U);
            EXPECT_LT(took, std::chrono::milliseconds(500));
        }
    }
}

TEST(AddressText, ComparesAndFormatsValues) {
    EXPECT_TRUE(SameAddress(AddressValue("10.0.0.1"), AddressValue("010.000.000.001")));
    EXPECT_TRUE(SameAddress(AddressValue("$0A.0.0.1"), AddressValue("10.0.0.1")));
    EXPECT_FALSE(SameAddress(AddressValue("10.0.0.1"), AddressValue("1.0.0.10")));
    EXPECT_FALSE(SameAddress(AddressValue("10.0.0.1"), AddressValue("10.0.0.2")));
    EXPECT_EQ(EndpointValue("10.0.0.1"), EndpointValue("010.0.0.1:10001"));
    EXPECT_NE(EndpointValue("10.0.0.1"), EndpointValue("10.0.0.1:10002"));

    const TAddressValue value{192, 168, 1, 7};
    EXPECT_EQ(FormatAddressWith(value, "%03d"), "192.168.001.007");
    EXPECT_EQ(FormatAddressWith(value, "%02X"), "C0.A8.01.07");
    EXPECT_EQ(FormatAddress(AddressValue(FormatAddressWith(value, "%03d"))), "192.168.1.7");
}

struct IntegerCase {
    const char* text;
    bool valid;
    std::int32_t value;
};

TEST(IntegerText, ConvertsWholeTextsWithinTheRange) {
    const IntegerCase cases[] = {
        {"0", true, 0},
        {"42", true, 42},
        {"  42", true, 42},
        {"+42", true, 42},
        {"-42", true, -42},
        {"007", true, 7},
        {"$1F", true, 31},
        {"x1f", true, 31},
        {"X1F", true, 31},
        {"0x1F", true, 31},
        {"0X1f", true, 31},
        {"-$10", true, -16},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"$7FFFFFFF", true, 2147483647},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"$100000000", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"$", false, 0},
        {"0x", false, 0},
        {"12 ", false, 0},
        {"1 2", false, 0},
        {"12a", false, 0},
        {"1F", false, 0},
        {"--1", false, 0},
        {"$-1", false, 0},
        {"1.5", false, 0},
    };
    for (const IntegerCase& c : cases) {
        std::int32_t value = 12345;
        EXPECT_EQ(TextToInteger(c.text, value), c.valid) << '"' << c.text << '"';
        EXPECT_EQ(value, c.valid ? c.value : 12345) << '"' << c.text << '"';
    }
}

} // namespace
