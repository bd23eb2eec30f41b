// Numbered records: names, sorting, reading from and writing to an instrument.
#include <algorithm>
#include <string>
#include <vector>

#include "instrument_test_support.h"

namespace tarsa::test {
namespace {

using Records = InstrumentFixture;

void Fill(RecordSet& set, const std::vector<std::string>& texts) {
    ASSERT_EQ(AllocateRecords(set, static_cast<int32_t>(texts.size())), kRecordsAllocated);
    for (size_t i = 0; i < texts.size(); ++i) SetText(set.records[i].text, texts[i]);
}

std::vector<std::string> Texts(const RecordSet& set) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < set.count; ++i) out.push_back(set.records[i].text);
    return out;
}

std::string Unpadded(std::string text) {
    while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

TEST_F(Records, EquationNamesStopAtTheFirstBlankAndShowPunctuation) {
    RecordSet set;
    Fill(set, {"b_2 1.0 2.0", "x`y_z", "ABCDEFGHIJKLMNOPQRSTUVWXYZ 1", ""});
    ASSERT_EQ(ExtractNames(*tp_, set, kRecordKindEquation), 1);
    EXPECT_STREQ(set.records[0].name, "b 2");
    EXPECT_STREQ(set.records[1].name, "x,y z");
    EXPECT_STREQ(set.records[2].name, "ABCDEFGHIJKLMNOPQRST");  // 20 characters at most
    EXPECT_STREQ(set.records[3].name, "");
}

TEST_F(Records, UserNamesAreTheFourthFieldOfTheDecodedText) {
    RecordSet set;
    Fill(set, {Base64("1\t2\t3\tAlice\tmore"), Base64("a\tb\tc\tLongerThanNine"),
               Base64("only\ttwo\ttabs"), "!!!!" /* not base64: decodes to zeros */,
               Unpadded(Base64("x\ty\tz\tBob"))});
    ASSERT_EQ(ExtractNames(*tp_, set, kRecordKindUser), 1);
    EXPECT_STREQ(set.records[0].name, "Alice");
    EXPECT_STREQ(set.records[1].name, "LongerTha");
    EXPECT_STREQ(set.records[2].name, "");
    EXPECT_STREQ(set.records[3].name, "");
    EXPECT_STREQ(set.records[4].name, "Bob");  // final group without padding
}

TEST_F(Records, NamingRefusesAnEmptySetOrAnUnknownKind) {
    RecordSet empty;
    EXPECT_EQ(ExtractNames(*tp_, empty, kRecordKindUser), kTPMissingArgument);
    EXPECT_TRUE(Logged("ExtractNames found an null record pointer"));
    RecordSet set;
    Fill(set, {"a"});
    EXPECT_EQ(ExtractNames(*tp_, set, 3), kTPUnknownKind);
    EXPECT_EQ(AlphabetizeRecords(*tp_, set, 0), kTPUnknownKind);
    EXPECT_EQ(GetRecords_Serial(*tp_, set, 7), kTPUnknownKind);
    EXPECT_EQ(SetRecords_Serial(*tp_, set, 7), kTPUnknownKind);
}

TEST_F(Records, SortingIgnoresCaseAndReversesEqualNames) {
    RecordSet set;
    Fill(set, {"b_2 first", "A second", "same one", "c", "SAME two", "same three"});
    ASSERT_EQ(AlphabetizeRecords(*tp_, set, kRecordKindEquation), 1);
    EXPECT_EQ(Texts(set), (std::vector<std::string>{"A second", "b_2 first", "c", "same three",
                                                    "SAME two", "same one"}));

    RecordSet users;
    Fill(users, {Base64("1\t2\t3\tzed"), Base64("no tabs"), Base64("1\t2\t3\tAmy")});
    ASSERT_EQ(AlphabetizeRecords(*tp_, users, kRecordKindUser), 1);
    // The record without a name sorts first.
    EXPECT_STREQ(users.records[0].name, "");
    EXPECT_STREQ(users.records[1].name, "Amy");
    EXPECT_STREQ(users.records[2].name, "zed");
}

TEST_F(Records, ReadingWithoutACountTriesUntilTheFirstFailure) {
    ASSERT_EQ(StartAndConnect(
                  [](const std::string& m) {
                      if (m == "get -ver\r") return Answer("H8 2.05");
                      if (m == "get -eqn\r") return std::string();  // no count answer
                      if (m == "get -eqn 0\r") return Answer("E0 1 2");
                      if (m == "get -eqn 1\r") return Answer("E1 3 4");
                      return Answer("ERROR");
                  },
                  1),
              1);
    EXPECT_EQ(GetRecords_Serial(*tp_, tp_->equations, kRecordKindEquation), 1);
    EXPECT_EQ(Texts(tp_->equations), (std::vector<std::string>{"E0 1 2", "E1 3 4"}));
    EXPECT_TRUE(Logged("GetRecords_Serial instrument reports 100 \"eqn\" records"));
    EXPECT_TRUE(Logged("GetRecords_Serial retrieved 2 of 100 \"eqn\" records"));
}

TEST_F(Records, ExpectedRecordsOfWhichNoneCanBeReadAreAFailedRead) {
    // A reported count, or the default one when the count is not answered.
    for (const char* countAnswer : {"\r3\r>", ""}) {
        ASSERT_EQ(StartAndConnect(
                      [countAnswer](const std::string& m) {
                          if (m == "get -ver\r") return Answer("H8 2.05");
                          if (m == "get -eqn\r") return std::string(countAnswer);
                          return Answer("ERROR");
                      },
                      1),
                  1);
        EXPECT_EQ(GetRecords_Serial(*tp_, tp_->equations, kRecordKindEquation), kDCRejected)
            << "count answer \"" << countAnswer << "\"";
        EXPECT_EQ(tp_->equations.count, 0);
    }
}

TEST_F(Records, ReadingStopsAtTheReportedCountAndAZeroCountReadsNothing) {
    FakeInstrument& fake = Fake("H8 2.05");
    fake.users = {"dTE=", "dTI=", "dTM="};
    ConnectFake(fake);
    EXPECT_EQ(GetRecords_Serial(*tp_, tp_->users, kRecordKindUser), 1);
    EXPECT_EQ(Texts(tp_->users), (std::vector<std::string>{"dTE=", "dTI=", "dTM="}));
    const auto sent = device_->Messages();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "get -user 3\r"), 0);

    EXPECT_EQ(GetRecords_Serial(*tp_, tp_->equations, kRecordKindEquation), 0);
    EXPECT_EQ(tp_->equations.count, 0);
    EXPECT_EQ(tp_->equations.records, nullptr);
    EXPECT_TRUE(Logged("GetRecords_Serial found no \"eqn\" records in instrument"));
}

TEST_F(Records, ARefusedCountBeyondTheLimitAllocatesNothing) {
    ASSERT_EQ(StartAndConnect([](const std::string& m) {
                  if (m == "get -ver\r") return Answer("H8 2.05");
                  if (m == "get -user\r") return Answer("2000000000");
                  return Answer("ERROR");
              }),
              1);
    EXPECT_EQ(GetRecords_Serial(*tp_, tp_->users, kRecordKindUser), kTPNoMemory);
    EXPECT_EQ(tp_->users.count, 0);
}

TEST_F(Records, WritingSendsTheSortedRecordsUpToTheFirstEmptyOne) {
    FakeInstrument& fake = Fake("H8 2.05");
    ConnectFake(fake);
    RecordSet set;
    Fill(set, {"b_2 x", "A y", "", "C z"});
    EXPECT_EQ(SetRecords_Serial(*tp_, set, kRecordKindEquation), 1);
    // Sorted, the empty record comes first; it is skipped, not the end.
    EXPECT_EQ(fake.equations, (std::vector<std::string>{"A y", "b_2 x", "C z"}));
    fake.equations.clear();

    Fill(set, {"b_2 x", "A y", "same 1", "same 2"});
    EXPECT_EQ(SetRecords_Serial(*tp_, set, kRecordKindEquation), 1);
    EXPECT_EQ(fake.equations, (std::vector<std::string>{"A y", "b_2 x", "same 2", "same 1"}));
    EXPECT_TRUE(Logged("SetRecords_Serial set \"eqn\" 0 to \"A y\""));

    RecordSet empty;
    EXPECT_EQ(SetRecords_Serial(*tp_, empty, kRecordKindUser), 0);
}

TEST_F(Records, WritesThatAreNeverConfirmedAreReported) {
    FakeInstrument& fake = Fake("H8 2.05");
    fake.refuseSet = "eqn";
    fake.refusal = "Busy";  // answered, not refused, never "OK"
    ConnectFake(fake);
    RecordSet set;
    Fill(set, {"A 1", "B 2"});
    EXPECT_EQ(SetRecords_Serial(*tp_, set, kRecordKindEquation), kTPPartial);
    EXPECT_TRUE(Logged("SetRecords_Serial: 2 \"eqn\" records were not confirmed"));

    // A silent instrument ends the writing at the first record.
    ASSERT_EQ(StartAndConnect(
                  [](const std::string& m) {
                      return m == "get -ver\r" ? Answer("H8 2.05") : std::string();
                  },
                  1),
              1);
    EXPECT_EQ(SetRecords_Serial(*tp_, set, kRecordKindEquation), kDCNoAnswer);
    const auto sent = SentSinceConnect();
    EXPECT_EQ(sent, (std::vector<std::string>{"set -eqn 0 A 1\r"}));
}

}  // namespace
}  // namespace tarsa::test
