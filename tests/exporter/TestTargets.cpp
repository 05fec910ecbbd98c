// The exporter's targets, from the command line and from a targets file, and its options.

#include "ExporterOptions.h"
#include "Targets.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

TTargetList Parse(const std::string& text) {
    return ParseTargetsText(text, "targets");
}

TEST(Targets, FileLinesWithPortsLabelsCommentsAndBlankLines) {
    const TTargetList list = Parse("# studio switches\n"
                                   "\n"
                                   "10.0.0.1\n"
                                   "  10.0.0.2:10005   Studio 2 main  \r\n"
                                   "\t# indented comment\n"
                                   "010.000.000.003 tx\n");
    ASSERT_EQ(list.Errors.size(), 0u);
    ASSERT_EQ(list.Targets.size(), 3u);
    EXPECT_EQ(list.Targets[0].Address, "10.0.0.1");
    EXPECT_EQ(list.Targets[0].Port, 10001);
    EXPECT_EQ(list.Targets[0].Label, "");
    EXPECT_EQ(list.Targets[1].Port, 10005);
    EXPECT_EQ(list.Targets[1].Label, "Studio 2 main");
    EXPECT_EQ(list.Targets[2].Address, "10.0.0.3");
}

TEST(Targets, BadLinesAreReportedWithFileAndLineAndSkipped) {
    const TTargetList list = Parse("10.0.0.1\n"
                                   "10.0.0.300\n"
                                   "10.0.0.2:0\n"
                                   "10.0.0.3:99999\n"
                                   "10.0.0.4:port\n"
                                   "10.0.0.5 bad\x01label\n"
                                   "10.0.0.6\n");
    ASSERT_EQ(list.Targets.size(), 2u);
    EXPECT_EQ(list.Targets[1].Address, "10.0.0.6");
    ASSERT_EQ(list.Errors.size(), 5u);
    EXPECT_EQ(list.Errors[0].File, "targets");
    EXPECT_EQ(list.Errors[0].Line, 2);
    EXPECT_NE(list.Errors[0].Reason.find("invalid IP address"), std::string::npos);
    EXPECT_EQ(list.Errors[1].Line, 3);
    EXPECT_EQ(list.Errors[4].Line, 6);
}

std::string Repeat(const std::string& text, int count) {
    std::string repeated;
    for (int i = 0; i < count; ++i)
        repeated += text;
    return repeated;
}

// Labels are counted in characters.
TEST(Targets, OverLongAddressesAndLabelsAreRefused) {
    const std::string longAddress(4000, '1');
    const TTargetList list =
        Parse(longAddress + "\n10.0.0.1 " + std::string(65, 'x') + "\n10.0.0.2 " +
              Repeat("\u00e9", 64) + "\n10.0.0.3 " + Repeat("\u00e9", 65) + "\n");
    ASSERT_EQ(list.Errors.size(), 3u);
    EXPECT_EQ(list.Errors[0].Reason, "address too long");
    ASSERT_EQ(list.Targets.size(), 1u);
    EXPECT_EQ(list.Targets[0].Address, "10.0.0.2");
    std::string error;
    EXPECT_FALSE(ParseTargetArgument(longAddress, error));
    EXPECT_EQ(error, "address too long");
}

// Prometheus refuses a whole scrape for one label that is not UTF-8.
TEST(Targets, LinesThatAreNotUtf8AreReadAsLatin1AndControlCharactersRefused) {
    const TTargetList list = Parse("10.0.0.1 R\xe9gie\n"
                                   "10.0.0.2 R\u00e9gie \u20ac\n"
                                   "10.0.0.3 bad\x85label\n"
                                   "10.0.0.4 bad\u0085label\n"
                                   "10.0.0.5 bad\x7flabel\n");
    ASSERT_EQ(list.Targets.size(), 2u);
    EXPECT_EQ(list.Targets[0].Label, "R\u00e9gie");
    EXPECT_EQ(list.Targets[1].Label, "R\u00e9gie \u20ac");
    EXPECT_EQ(list.Latin1Lines, (std::vector<int>{1, 3}));
    ASSERT_EQ(list.Errors.size(), 3u);
    EXPECT_EQ(list.Errors[0].Reason, "label with control characters");
    std::string error;
    EXPECT_EQ(ParseTargetArgument("10.0.0.1=R\xe9gie", error)->Label, "R\u00e9gie");
}

TEST(Targets, CommandLineFormWithPortAndName) {
    std::string error;
    const auto plain = ParseTargetArgument("127.0.1.7", error);
    ASSERT_TRUE(plain);
    EXPECT_EQ(DeviceKey(*plain), "127.0.1.7");
    const auto full = ParseTargetArgument("127.0.1.7:10002=Studio 7", error);
    ASSERT_TRUE(full);
    EXPECT_EQ(DeviceKey(*full), "127.0.1.7:10002");
    EXPECT_EQ(full->Label, "Studio 7");
    EXPECT_FALSE(ParseTargetArgument("127.0.1:10002", error));
    EXPECT_FALSE(ParseTargetArgument("127.0.1.7:", error));
    EXPECT_FALSE(ParseTargetArgument("127.0.1.7=a\nb", error));
}

TEST(Targets, DuplicatesMakeOneTargetTheFirstKept) {
    std::string error;
    const std::vector<TTarget> targets{*ParseTargetArgument("10.0.0.1=first", error),
                                       *ParseTargetArgument("10.0.0.1:10001=second", error),
                                       *ParseTargetArgument("10.0.0.1:10002", error),
                                       *ParseTargetArgument("010.0.0.1", error)};
    const std::vector<TTarget> unique = UniqueTargets(targets);
    ASSERT_EQ(unique.size(), 2u);
    EXPECT_EQ(unique[0].Label, "first");
    EXPECT_EQ(unique[1].Port, 10002);
}

TEST(Targets, RelayFieldBeforeTheLabel) {
    const TTargetList list = Parse("10.0.0.1 relay=10001 Studio 1\n"
                                   "10.0.0.2 relay=127.0.0.2:20002\n"
                                   "10.0.0.3 relay=0\n"
                                   "10.0.0.4 relay=1.2.3:5\n"
                                   "10.0.0.5 Studio relay=5\n");
    ASSERT_EQ(list.Targets.size(), 3u);
    EXPECT_EQ(list.Targets[0].Relay, (TRelayEndpoint{"", 10001}));
    EXPECT_EQ(list.Targets[0].Label, "Studio 1");
    EXPECT_EQ(list.Targets[1].Relay, (TRelayEndpoint{"127.0.0.2", 20002}));
    EXPECT_EQ(list.Targets[1].Label, "");
    EXPECT_FALSE(list.Targets[2].Relay);
    EXPECT_EQ(list.Targets[2].Label, "Studio relay=5");
    ASSERT_EQ(list.Errors.size(), 2u);
    EXPECT_EQ(list.Errors[0].Reason, "invalid relay port \"0\"");
    EXPECT_EQ(list.Errors[1].Reason, "invalid relay address \"1.2.3\"");
}

TEST(Targets, UnreadableFilesGiveAReasonAndNothingElse) {
    std::string error;
    EXPECT_FALSE(ReadTargetsFile("no-such-file", error));
    EXPECT_NE(error.find("cannot read no-such-file"), std::string::npos);
    std::filesystem::create_directories("a-folder");
    EXPECT_FALSE(ReadTargetsFile("a-folder", error));
    std::ofstream("fine") << "10.0.0.9 nine\n";
    const auto list = ReadTargetsFile("fine", error);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->Targets.size(), 1u);
    EXPECT_EQ(list->Targets[0].Label, "nine");
}

// 100,000 devices with the longest address and label, in characters of four bytes, are
// read; a byte more than the limit is not.
TEST(Targets, AFileOfAHundredThousandDevicesIsRead) {
    {
        std::ofstream file("fleet");
        const std::string label = Repeat("\U0001f4fa", static_cast<int>(MAX_LABEL_TEXT));
        for (int i = 0; i < 100000; ++i)
            file << "10." << i / 65536 << "." << i / 256 % 256 << "." << i % 256 << ":10001 "
                 << label << "\r\n";
    }
    std::string error;
    const auto list = ReadTargetsFile("fleet", error);
    ASSERT_TRUE(list) << error;
    EXPECT_EQ(list->Targets.size(), 100000u);
    EXPECT_TRUE(list->Errors.empty());
    std::filesystem::resize_file("fleet", MAX_TARGETS_FILE_SIZE + 1);
    EXPECT_FALSE(ReadTargetsFile("fleet", error));
    EXPECT_EQ(error, "cannot read fleet: larger than 32 MiB");
    std::filesystem::remove("fleet");
}

TExporterOptions ParseOk(const std::vector<std::string>& args) {
    TExporterOptions options;
    EXPECT_EQ(ParseExporterOptions(args, options), "");
    return options;
}

std::string ParseError(const std::vector<std::string>& args) {
    TExporterOptions options;
    return ParseExporterOptions(args, options);
}

TEST(ExporterOptions, DefaultsAndEveryOptionInBothForms) {
    const TExporterOptions defaults = ParseOk({});
    EXPECT_EQ(defaults.ListenAddress, "127.0.0.1:9710");
    EXPECT_EQ(defaults.Interval.count(), 100);
    EXPECT_EQ(defaults.LogFormat, TLogFormat::Logfmt);
    EXPECT_EQ(defaults.LogLevel, TLogLevel::Info);
    const TExporterOptions options =
        ParseOk({"--web.listen-address", "0.0.0.0:9000", "--targets=list", "--interval", "10",
                 "--log.format=json", "--log.level", "warn", "10.0.0.1", "10.0.0.2:10002=two"});
    EXPECT_EQ(options.ListenAddress, "0.0.0.0:9000");
    EXPECT_EQ(options.TargetsFile, "list");
    EXPECT_EQ(options.Interval.count(), 10);
    EXPECT_EQ(options.LogFormat, TLogFormat::Json);
    EXPECT_EQ(options.LogLevel, TLogLevel::Warn);
    ASSERT_EQ(options.Targets.size(), 2u);
    EXPECT_EQ(options.Targets[1].Label, "two");
    EXPECT_EQ(ParseOk({"--interval", "10000"}).Interval.count(), 10000);
    // The names of an earlier version.
    EXPECT_EQ(ParseOk({"--log-format", "json"}).LogFormat, TLogFormat::Json);
    EXPECT_EQ(ParseOk({"--log.format=json", "--log-format=text"}).LogFormat, TLogFormat::Logfmt);
    for (const char* address : {":9710", "[::1]:9710", "[::]:0", "localhost:9710"})
        EXPECT_EQ(ParseOk({"--web.listen-address", address}).ListenAddress, address);
}

TEST(ExporterOptions, UsageErrors) {
    EXPECT_NE(ParseError({"--interval", "9"}), "");
    EXPECT_NE(ParseError({"--interval", "10001"}), "");
    EXPECT_NE(ParseError({"--interval", "1e3"}), "");
    EXPECT_NE(ParseError({"--interval"}), "");
    EXPECT_NE(ParseError({"--log-format", "xml"}), "");
    EXPECT_NE(ParseError({"--log.level", "verbose"}), "");
    EXPECT_NE(ParseError({"--web.listen-address", "9710"}), "");
    EXPECT_NE(ParseError({"--web.listen-address", "::1:9710"}), "");
    EXPECT_NE(ParseError({"--web.listen-address", "[::1:9710"}), "");
    EXPECT_NE(ParseError({"--web.listen-address", "host:70000"}), "");
    EXPECT_NE(ParseError({"--targets="}), "");
    EXPECT_NE(ParseError({"--verbose"}), "");
    EXPECT_NE(ParseError({"10.0.0"}).find("10.0.0"), std::string::npos);
    EXPECT_NE(ParseError({"--relay.listen-address", "localhost"}), "");
    EXPECT_NE(ParseError({"--relay.base-port", "65536"}), "");
    EXPECT_NE(ParseError({"--relay.max-clients", "0"}), "");
    EXPECT_NE(ParseError({"--relay.allow-write", "10.0.0.0/33"}), "");
    EXPECT_NE(ParseError({"--relay.allow-write", "10.0.0.0/8,"}), "");
}

TEST(ExporterOptions, RelayOptionsAndThePortsTheyGive) {
    const TRelayOptions defaults = ParseOk({}).Relay;
    EXPECT_EQ(defaults.ListenAddress, "127.0.0.1");
    EXPECT_FALSE(defaults.BasePort);
    EXPECT_TRUE(defaults.AllowWrite.empty());
    EXPECT_EQ(defaults.MaxClients, 32);
    TExporterOptions options =
        ParseOk({"--relay.listen-address", "0.0.0.0", "--relay.base-port=20000",
                 "--relay.allow-write", "10.1.0.0/16,192.168.7.7", "--relay.max-clients", "4",
                 "10.0.0.1", "10.0.0.2", "10.0.0.3"});
    EXPECT_EQ(options.Relay.ListenAddress, "0.0.0.0");
    EXPECT_EQ(options.Relay.MaxClients, 4);
    const auto& allowed = options.Relay.AllowWrite;
    EXPECT_TRUE(InRanges(allowed, 0x0A01FFFE));
    EXPECT_FALSE(InRanges(allowed, 0x0A020001));
    EXPECT_TRUE(InRanges(allowed, 0xC0A80707));
    EXPECT_FALSE(InRanges(allowed, 0xC0A80708));
    options.Targets[1].Relay = TRelayEndpoint{"127.0.0.9", 10001};
    AssignRelayPorts(options.Targets, options.Relay);
    EXPECT_EQ(options.Targets[0].Relay, (TRelayEndpoint{"", 20000}));
    EXPECT_EQ(options.Targets[1].Relay, (TRelayEndpoint{"127.0.0.9", 10001}));
    EXPECT_EQ(options.Targets[2].Relay, (TRelayEndpoint{"", 20002}));
}

} // namespace
