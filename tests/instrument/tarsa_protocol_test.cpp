// Connecting, logging in and out, and the command primitives, against a
// scripted device on a real pty.
#include <algorithm>
#include <cstring>

#include "instrument_test_support.h"
#include "serial/timing.h"

namespace tarsa::test {
namespace {

using Protocol = InstrumentFixture;

TEST_F(Protocol, ConnectRefusesMissingArgumentsWithoutTouchingThePort) {
    EXPECT_EQ(TPConnect(*tp_, "", 2, 3, &identity_), kTPMissingArgument);
    EXPECT_EQ(TPConnect(*tp_, nullptr, 2, 3, &identity_), kTPMissingArgument);
    EXPECT_EQ(TPConnect(*tp_, "/dev/null", 2, 3, nullptr), kTPMissingArgument);
    // A name the connection request cannot hold is refused, not cut.
    const std::string longName = "/dev/serial/by-id/" + std::string(60, 'x');
    EXPECT_EQ(TPConnect(*tp_, longName.c_str(), 2, 3, &identity_), kTPMissingArgument);
    EXPECT_EQ(tp_->link.connection.linkKind, kLinkNone);
}

TEST_F(Protocol, ConnectFillsIdentityTypeAndLoggerIdentity) {
    ASSERT_EQ(StartAndConnect([](const std::string& m) {
                  return m == "get -ver\r" ? Answer("H8 2.05") : Answer("Unsupported");
              }),
              1);
    EXPECT_EQ(identity_.type, kTypeHygra8);
    EXPECT_EQ(identity_.version, 205u);
    EXPECT_EQ(tp_->type, kTypeHygra8);
    EXPECT_EQ(tp_->identity.type, kTypeHygra8);
    EXPECT_STREQ(tp_->identity.displayName, "Hygra 8");
    EXPECT_EQ(tp_->loggerSettings.versionNumber, 205);
    EXPECT_STREQ(tp_->loggerSettings.versionText, "H8 2.05");
    EXPECT_EQ(tp_->loggerSettings.newFirmware, 1);
    EXPECT_TRUE(Logged("TPConnect successfully connected to device"));
}

TEST_F(Protocol, ConnectToUnsupportedVersionOrUnknownModelIsRefused) {
    // The Hygra Mini is supported from 1.18 on.
    EXPECT_EQ(StartAndConnect([](const std::string& m) {
                  return m == "get -ver\r" ? Answer("HMINI 1.10") : Answer("Unsupported");
              }),
              kTPNotSupported);
    EXPECT_EQ(identity_.type, kTypeHygraMini);  // filled although refused
    EXPECT_EQ(identity_.version, 110u);
    EXPECT_TRUE(Logged("TPConnect this firmware version is not supported"));
    EXPECT_EQ(tp_->type, 0);  // the object only takes a supported identity

    TPDisconnect(*tp_, false);
    EXPECT_EQ(StartAndConnect([](const std::string& m) {
                  return m == "get -ver\r" ? Answer("ZORBLAX 1.00") : Answer("Unsupported");
              }),
              kTPNotSupported);
    EXPECT_EQ(identity_.type, kTypeUnknown);
}

TEST_F(Protocol, ConnectReportsAWaitingLoaderAndLeavesTheIdentityAlone) {
    identity_.type = kTypeTalox;
    identity_.version = 229;
    // The loader takes no text commands: it answers with its acknowledgements.
    const int rc = StartAndConnect([](const std::string&) { return std::string("++++\r"); });
    EXPECT_EQ(rc, kTPLoaderAnswered);
    EXPECT_EQ(identity_.type, kTypeTalox);
    EXPECT_EQ(identity_.version, 229u);
    EXPECT_TRUE(Logged("TPConnect found the TarsaBSL listening (-80)"));
}

TEST_F(Protocol, LoginSendsTheLineOneCharacterAtATimeAndRetries) {
    int loginLines = 0;
    ASSERT_EQ(StartAndConnect([&loginLines](const std::string& m) {
                  if (m == "get -ver\r") return Answer("H8 2.05");
                  if (m == "login *5738\r")
                      return ++loginLines == 1 ? Answer("what?") : Answer("OK");
                  return std::string();
              }),
              1);
    const uint32_t start = TickMs();
    EXPECT_EQ(TPLogin(*tp_), 1);
    const uint32_t elapsed = TickMs() - start;
    EXPECT_EQ(loginLines, 2);
    // Two attempts of 11 characters at 250 ms plus 250 ms each, and the
    // one-second pauses before and after.
    EXPECT_GE(elapsed, 2u * (11 * 250 + 250) + 2000);
    EXPECT_TRUE(Logged("TPConnect successfully logged into the device"));
}

TEST_F(Protocol, LoginFailsAfterThreeAttemptsWithoutOKOrTheCode) {
    // A rejection first, then answers that are neither rejections nor a
    // confirmation: the last exchange "succeeds", the login does not.
    int loginLines = 0;
    ASSERT_EQ(StartAndConnect(
                  [&loginLines](const std::string& m) {
                      if (m == "get -ver\r") return Answer("H8 2.05");
                      if (m != "login *5738\r") return std::string();
                      return ++loginLines == 1 ? Answer("ERROR") : Answer("Denied");
                  },
                  1),
              1);
    EXPECT_EQ(TPLogin(*tp_), kTPLoginFailed);
    EXPECT_EQ(loginLines, 3);
    EXPECT_TRUE(Logged("TPConnect couldn't log into the device"));
    EXPECT_FALSE(Logged("TPConnect successfully logged into the device"));
}

TEST_F(Protocol, DisconnectSendsLogoutOnlyWhenTheInstrumentNeedsALogin) {
    FakeInstrument& fake = Fake("TK 1.00");
    ConnectFake(fake);
    EXPECT_EQ(identity_.needsLogin, 0);
    TPDisconnect(*tp_, true);
    auto sent = device_->Messages();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "logout\r"), 0);

    FakeInstrument& h8 = Fake("H8 2.05");
    ConnectFake(h8);
    EXPECT_EQ(identity_.needsLogin, 1);
    TPDisconnect(*tp_, true);
    sent = device_->Messages();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "logout\r"), 1);
    EXPECT_EQ(tp_->link.connection.linkKind, kLinkNone);
}

TEST_F(Protocol, GetValueStringTakesTheFirstLineWithinCapacity) {
    ASSERT_EQ(StartAndConnect([](const std::string& m) {
                  if (m == "get -ver\r") return Answer("TK 1.00");
                  if (m == "get -long\r") return std::string("\r\nABCDEFGHIJKLMNOPQRST\rmore\r>");
                  if (m == "get -prompt\r") return std::string("\r\n>");
                  if (m == "get -err\r") return Answer("Error 5");
                  return Answer("Unsupported");
              }),
              1);
    char value[16];
    EXPECT_EQ(GetValueString(*tp_, "get -long", 2000, value, 15), 1);
    EXPECT_STREQ(value, "ABCDEFGHIJKLMNO");
    EXPECT_TRUE(Logged("GetValueString found get -long \"ABCDEFGHIJKLMNO\""));

    const size_t before = device_->Messages().size();
    EXPECT_EQ(GetValueString(*tp_, "get -prompt", 2000, value, 15), kTPBadAnswer);
    EXPECT_EQ(device_->Messages().size() - before, 3u);
    EXPECT_EQ(LoggedCount("GetValueString found a leading prompt character executing command "
                          "\"get -prompt\""),
              3u);
    EXPECT_EQ(GetValueString(*tp_, "get -err", 2000, value, 15), kTPBadAnswer);
    EXPECT_STREQ(value, "");
}

TEST_F(Protocol, GetValueLongReadsTheNumberAfterTheFirstLineEnd) {
    ASSERT_EQ(StartAndConnect([](const std::string& m) {
                  if (m == "get -ver\r") return Answer("TK 1.00");
                  if (m == "get -lang\r") return std::string("\r\n-42\r>");
                  if (m == "get -word\r") return Answer("none");
                  if (m == "get -huge\r") return Answer("99999999999");
                  return Answer("Unsupported");
              }),
              1);
    int32_t value = 7;
    EXPECT_EQ(GetValueLong(*tp_, "get -lang", 2000, &value), 1);
    EXPECT_EQ(value, -42);
    EXPECT_EQ(GetValueLong(*tp_, "get -word", 2000, &value), kTPBadAnswer);
    EXPECT_EQ(value, -42);
    EXPECT_EQ(GetValueLong(*tp_, "get -huge", 2000, &value), 1);
    EXPECT_EQ(value, INT32_MAX);
}

TEST_F(Protocol, TPCommandRetriesUntilOkButSendsUserLinesOnce) {
    int resets = 0;
    ASSERT_EQ(StartAndConnect([&resets](const std::string& m) {
                  if (m == "get -ver\r") return Answer("H8 2.05");
                  if (m == "reset -eqn\r") return ++resets < 2 ? Answer("busy") : Answer("OK");
                  if (m == "reset -users\r") return Answer("busy");
                  return Answer("Unsupported");
              }),
              1);
    EXPECT_EQ(TPCommand(*tp_, "reset -eqn\r"), 1);
    EXPECT_EQ(resets, 2);
    EXPECT_TRUE(Logged("\"reset -eqn\r\" failed with error"));

    const size_t before = device_->Messages().size();
    const int rc = TPCommand(*tp_, "reset -users\r");
    EXPECT_GT(rc, 0);  // the exchange's byte count: the answer is not checked
    EXPECT_EQ(device_->Messages().size() - before, 1u);
}

}  // namespace
}  // namespace tarsa::test
