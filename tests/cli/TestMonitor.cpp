// The headless monitor's parts that need no device: its command line, its output queue
// and its JSON forms.

#include "CliArgs.h"
#include "EventPrinter.h"
#include "LineOutput.h"

#include <QJsonDocument>
#include <QTimeZone>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

std::string Parse(std::vector<std::string> args, TCliOptions& options) {
    options = TCliOptions();
    return ParseCliArguments(args, options);
}

// Everything a pipe's read end holds now.
std::string ReadAvailable(int fd) {
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

struct Pipe {
    Pipe() {
        EXPECT_EQ(::pipe2(Fds, O_CLOEXEC), 0);
        ::fcntl(Fds[0], F_SETFL, O_NONBLOCK);
        ::fcntl(Fds[1], F_SETPIPE_SZ, 4096);
    }
    ~Pipe() {
        ::close(Fds[0]);
        ::close(Fds[1]);
    }
    int Fds[2];
};

std::string Note(std::uint64_t dropped) {
    return "dropped " + std::to_string(dropped);
}

} // namespace

TEST(CliArgs, PluginFormLongFormAndPositionalFormReadTheSame) {
    TCliOptions plugin;
    ASSERT_EQ(
        Parse({"check", "-H", "127.0.0.01", "-p", "2000", "-t", "5", "-w", "40", "-c", "@50:60"},
              plugin),
        "");
    EXPECT_EQ(plugin.Command, "check");
    EXPECT_EQ(plugin.Address, "127.0.0.1") << "normalised";
    EXPECT_EQ(plugin.Port, 2000);
    EXPECT_EQ(plugin.TimeoutSeconds, 5);
    EXPECT_EQ(plugin.Limits.Warning.Text, "40");
    EXPECT_EQ(plugin.Limits.Critical.Text, "@50:60");
    EXPECT_FALSE(plugin.Limits.ManualWarning);

    TCliOptions longForm;
    ASSERT_EQ(Parse({"check", "--hostname=127.0.0.1", "--port", "2000", "--timeout=5", "--warning",
                     "40", "--critical=@50:60", "--manual", "warning"},
                    longForm),
              "");
    EXPECT_EQ(longForm.Address, "127.0.0.1");
    EXPECT_EQ(longForm.Port, 2000);
    EXPECT_EQ(longForm.TimeoutSeconds, 5);
    EXPECT_EQ(longForm.Limits.Critical.Text, "@50:60");
    EXPECT_TRUE(longForm.Limits.ManualWarning);

    TCliOptions positional;
    ASSERT_EQ(Parse({"check", "127.0.0.1", "--port", "2000"}, positional), "");
    EXPECT_EQ(positional.Address, "127.0.0.1");
    EXPECT_EQ(positional.Port, 2000);
    EXPECT_EQ(positional.Limits.Warning.Text, "59") << "defaults: 60C warns, 70C is critical";
    EXPECT_EQ(positional.Limits.Critical.Text, "69");
    EXPECT_EQ(positional.TimeoutSeconds, 10);

    TCliOptions withPort;
    ASSERT_EQ(Parse({"check", "-H", "127.0.0.1:2000"}, withPort), "");
    EXPECT_EQ(withPort.Address, "127.0.0.1");
    EXPECT_EQ(withPort.Port, 2000);

    TCliOptions select;
    ASSERT_EQ(Parse({"select", "B", "-H", "127.0.0.2", "--json"}, select), "");
    EXPECT_EQ(select.Argument, "B");
    EXPECT_EQ(select.Address, "127.0.0.2");
    EXPECT_TRUE(select.Json);
}

TEST(CliArgs, AHostNameIsLookedUpAsIPv4) {
    TCliOptions options;
    ASSERT_EQ(Parse({"check", "-H", "localhost"}, options), "");
    EXPECT_EQ(options.Address, "");
    EXPECT_EQ(ResolveAddress(options), "");
    EXPECT_EQ(options.Address, "127.0.0.1");
    ASSERT_EQ(Parse({"report", "no-such-host.invalid:10017"}, options), "");
    EXPECT_EQ(options.Port, 10017);
    EXPECT_TRUE(
        ResolveAddress(options).starts_with("cannot resolve host name \"no-such-host.invalid\": "));
    EXPECT_EQ(Parse({"report", "localhost:0"}, options), "invalid port \"0\"");
}

TEST(CliArgs, HelpAndVersionWinOverAnythingElse) {
    TCliOptions options;
    EXPECT_EQ(Parse({"bogus", "--help"}, options), "");
    EXPECT_TRUE(options.Help);
    EXPECT_EQ(Parse({"-V"}, options), "");
    EXPECT_TRUE(options.Version);
}

TEST(CliArgs, MistakesAreNamed) {
    struct Case {
        std::vector<std::string> Args;
        const char* Error;
    };
    const Case cases[] = {
        {{}, "expected a command"},
        {{"check"}, "wrong number of arguments for check"},
        {{"check", "-H", "127.0.0.1", "127.0.0.2"}, "wrong number of arguments for check"},
        {{"check", "-H", "300.0.0.1"}, "invalid IP address \"300.0.0.1\""},
        {{"check", "-H", "127.0.0.1:2000", "-p", "2000"},
         "the port is given twice, in \"127.0.0.1:2000\" and by an option"},
        {{"check", "-H", "127.0.0.1", "-w", "hot"}, "bad value \"hot\" for -w"},
        {{"check", "-H", "10"}, "invalid IP address \"10\""},
        {{"check", "-H", "127.0.0.1", "-w", "20:10"}, "bad value \"20:10\" for -w"},
        {{"check", "-H", "127.0.0.1", "--manual=maybe"}, "bad value \"maybe\" for --manual"},
        {{"check", "-H", "127.0.0.1", "--timeout="}, "bad value \"\" for --timeout"},
        {{"report", "127.0.0.1", "--json=1"}, "bad option --json=1"},
        {{"report", "127.0.0.1", "--critical", "40"}, "--critical is an option of check"},
        {{"check", "-H", "127.0.0.1", "-t"}, "bad option -t"},
        {{"check", "-H", "127.0.0.1", "-t", "0"}, "bad value \"0\" for -t"},
        {{"report", "127.0.0.1", "-w", "40"}, "-w is an option of check"},
        {{"check", "127.0.0.1", "--json"}, "--json is not an option of check"},
        {{"watch", "127.0.0.1", "--bogus", "1"}, "bad option --bogus"},
        {{"select", "C", "127.0.0.1"}, "select takes A or B"},
    };
    for (const Case& c : cases) {
        TCliOptions options;
        EXPECT_EQ(Parse(c.Args, options), c.Error) << testing::PrintToString(c.Args);
    }
}

TEST(LineOutput, AStalledReaderNeitherBlocksTheWriterNorGrowsTheQueue) {
    Pipe pipe;
    constexpr std::size_t LIMIT = 16384;
    TLineOutput out(pipe.Fds[1], Note, LIMIT);
    const std::string line(99, 'x');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100000; ++i)
        out.Put(line);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "Put never waits for the reader";
    EXPECT_FALSE(out.Flush(50ms));
    EXPECT_LE(out.Pending(), LIMIT);
    EXPECT_GT(out.Dropped(), 99000U);

    // Once the reader catches up, notes tell how many lines went missing in between.
    std::string read;
    while (out.Pending() > 0)
        read += ReadAvailable(pipe.Fds[0]);
    out.Put("after");
    ASSERT_TRUE(out.Flush(1s));
    read += ReadAvailable(pipe.Fds[0]);
    std::istringstream lines(read);
    std::uint64_t noted = 0;
    std::string last;
    for (std::string text; std::getline(lines, text); last = text) {
        if (text.starts_with("dropped ")) {
            noted += std::stoull(text.substr(8));
        } else if (text != "after") {
            ASSERT_EQ(text, line) << "whole lines only";
        }
    }
    EXPECT_EQ(noted, out.Dropped());
    EXPECT_EQ(last, "after");
    EXPECT_EQ(read.back(), '\n');
}

TEST(LineOutput, AReaderThatWentAwayIsAFailureNotASignal) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]);
    std::atomic<int> told{0};
    TLineOutput out(fds[1], Note, TLineOutput::DEFAULT_LIMIT, [&told] { ++told; });
    out.Put("line");
    EXPECT_FALSE(out.Flush(1s));
    EXPECT_FALSE(out.Failure().empty());
    out.Put("another");
    EXPECT_FALSE(out.Flush(100ms));
    EXPECT_EQ(out.Dropped(), 2U);
    EXPECT_EQ(told, 1) << "the failure is told once";
    ::close(fds[1]);
}

TEST(MonitorJson, TimesCarryTheirOffsetAndLinesAreCompactObjects) {
    const QDateTime when(QDate(2027, 2, 1), QTime(9, 3, 7, 250), QTimeZone(3600 + 1800));
    EXPECT_EQ(IsoTime(when), "2027-02-01T09:03:07.250+01:30");
    const QDateTime west(QDate(2027, 2, 1), QTime(9, 3, 7), QTimeZone(-5 * 3600));
    EXPECT_EQ(IsoTime(west), "2027-02-01T09:03:07.000-05:00");
    const QDateTime utc(QDate(2027, 2, 1), QTime(9, 3, 7), Qt::UTC);
    EXPECT_EQ(IsoTime(utc), "2027-02-01T09:03:07.000+00:00");

    const std::string line = JsonLine({{"event", "Change"}, {"text", "a\nb\x1b"}}, utc);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\x1b'), std::string::npos);
    const QJsonObject back = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_EQ(back["text"].toString(), "a\nb\x1b");
    EXPECT_EQ(back["time"].toString(), "2027-02-01T09:03:07.000+00:00");
}
