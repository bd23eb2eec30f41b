// Tests of the feedback window's logic against a real server on 127.0.0.1
// whose own multipart parser reads what was sent: validation, the posted
// fields and attachments, the log cut, the file size limit, upload progress,
// the result texts and the reachability check before the window opens.
#include "web/feedback_form.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "log/tarsa_log.h"
#include "web/system_info.h"
#include "web/web_config.h"
#include "web_test_support.h"

namespace tarsa {
namespace {

using webtest::ClosedBase;
using webtest::FakeWindow;
using webtest::MemoryStore;
using webtest::ReadWhole;
using webtest::TempDir;

class Feedback : public ::testing::Test {
  protected:
    void SetUp() override {
        web.feedbackService = service.Base();
        web.mimeTable =
            dir.Write("mime.types", "# test table\ntext/plain txt log\napplication/pdf pdf\n");
        info.programTitle = "Talox Firmware Updater";
        info.programVersion = "Talox 2.29";
        info.defaultEmailTo = "support@maker.example";
        info.browseFolder = "/opt/tarsa";
        SetFormInfo(web, info);
        ui.visible = true;
        FormShow(web);
        web.edName = "Ann Example";
    }

    // A file of `size` bytes without writing them all (sparse).
    std::string SizedFile(const std::string& name, off_t size) {
        const std::string path = dir.Write(name, "");
        EXPECT_EQ(truncate(path.c_str(), size), 0);
        return path;
    }

    webtest::FeedbackService service;
    TempDir dir;
    FakeWindow ui;
    MemoryStore store;
    TfrmWeb web{ui, store, nullptr};
    WEB_FORM_INFO_TYPE info;
};

TEST_F(Feedback, ValidationRefusesInOrderWithItsTexts) {
    struct Case {
        std::string name, email, phone, emailTo;
        int respondVia;
        std::string text, caption;
        WebControl focus;
    };
    const std::string addressHint =
        "Please enter a complete email address including\nthe '@' symbol and domain name.";
    const Case cases[] = {
        {"", "bad", "", "rep", 1, "Please enter your name in the name field", "Missing Information",
         WebControl::kName},
        {"Ann", "", "", "rep", 1,
         "Please enter your phone number or email address so Corvane can respond to your "
         "feedback.",
         "Missing Information", WebControl::kTelephone},
        {"Ann", "", "", "", -1,
         "Please enter your phone number or email address so Corvane can respond to your "
         "feedback.",
         "Missing Information", WebControl::kTelephone},
        {"Ann", "bad", "555", "rep.example.com", 1,
         "The email address you entered for your Corvane\nRepresentative isn't complete.\n\n" +
             addressHint,
         "Bad Email Address", WebControl::kEmailTo},
        {"Ann", "ann @example.com", "", "", 1,
         "The email address you entered doesn't seem to be correct.\n\n" + addressHint +
             "\n\nPlease remove any space characters in the email address.",
         "Bad Email Address", WebControl::kEmail},
        {"Ann", "ann.example.com", "", "", 0,
         "The email address you entered doesn't seem to be correct.\n\n" + addressHint,
         "Bad Email Address", WebControl::kEmail},
    };
    for (const Case& c : cases) {
        ui.messages.clear();
        ui.focus.clear();
        web.edName = c.name;
        web.edEmail = c.email;
        web.edTelephone = c.phone;
        web.edEmailTo = c.emailTo;
        web.respondVia = c.respondVia;
        EXPECT_EQ(btnSendClick(web), kFeedbackRefused) << c.text;
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, c.text);
        EXPECT_EQ(ui.messages[0].caption, c.caption);
        EXPECT_EQ(ui.messages[0].kind, kWebWarning);
        EXPECT_EQ(ui.focus, std::vector<WebControl>{c.focus});
    }
    EXPECT_EQ(service.Posts(), 0);
    EXPECT_EQ(store.writes, 0);
}

TEST_F(Feedback, NameAloneIsEnoughWhenNoResponseIsWanted) {
    web.respondVia = 0;
    EXPECT_EQ(btnSendClick(web), kFeedbackSent);
    EXPECT_EQ(service.Posts(), 1);
    EXPECT_EQ(service.Field("Respond Via"), "No response necessary");
}

TEST_F(Feedback, FieldsAndAttachmentsArePostedInOrder) {
    const std::string log = dir.Write("Talox Firmware Updater.errors.txt", "line one\r\n");
    info.attachment1 = log;
    SetFormInfo(web, info);
    web.edCompany = "Field Co";
    web.edEmail = "ann@example.com";
    web.edTelephone = "+1 555 0100";
    web.respondVia = 3;
    web.feedbackType = 2;
    cbFeedbackTypeChange(web);
    web.reDescription = "It stopped.\r\nTwice.";
    web.computerInformation = "Test OS kernel 1.2.3 (Version 1.2 build 3)";
    ui.chosenFile = dir.Write("report.PDF", "%PDF-1.4 body");
    btnSendFileClick(web);
    ASSERT_EQ(web.edSendFile, "report.PDF");

    ASSERT_EQ(btnSendClick(web), kFeedbackSent);
    const auto parts = service.Posted();
    std::vector<std::string> names;
    for (const auto& p : parts) names.push_back(p.name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "EmailTo", "EmailSubject", "Name", "Company Name", "Email", "Telephone",
                         "Respond Via", "Registered Name", "Registered Company", "Software Version",
                         "Installation Path", "Computer Information", "Feedback",
                         "Talox Firmware Updater.errors.txt", "report.PDF"}));
    EXPECT_EQ(service.Field("EmailTo"), "support@maker.example");
    EXPECT_EQ(service.Field("EmailSubject"), "Talox Firmware Updater Bug Report");
    EXPECT_EQ(service.Field("Telephone"), "+1 555 0100");
    EXPECT_EQ(service.Field("Respond Via"), "Telephone (mid day is best)");
    EXPECT_EQ(service.Field("Software Version"), "Talox Firmware Updater version Talox 2.29");
    EXPECT_EQ(service.Field("Installation Path"), ProgramFilePath());
    EXPECT_EQ(service.Field("Computer Information"), "Test OS kernel 1.2.3 (Version 1.2 build 3)");
    EXPECT_EQ(service.Field("Feedback"), "It stopped.\r\nTwice.");
    EXPECT_EQ(parts[13].filename, "Talox Firmware Updater.errors.txt");
    EXPECT_EQ(parts[13].content_type, "text/plain");
    EXPECT_EQ(parts[13].content, "line one\r\n");
    EXPECT_EQ(parts[14].filename, "report.PDF");
    EXPECT_EQ(parts[14].content_type, "application/pdf");
    EXPECT_EQ(parts[14].content, "%PDF-1.4 body");

    // Contact details stored; thanked; window closed; controls back.
    EXPECT_EQ(store.values["Name"], "Ann Example");
    EXPECT_EQ(store.values["Phone"], "+1 555 0100");
    EXPECT_EQ(store.values["EmailTo"], "");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Thank you for submitting your Bug Report.");
    EXPECT_EQ(ui.messages[0].caption, "Feedback Successfully Sent");
    EXPECT_EQ(ui.closes, 1);
    EXPECT_TRUE(ui.sendEnabled);
    EXPECT_FALSE(ui.busyCursor);
}

TEST_F(Feedback, RepresentativeAddressReplacesTheDefaultAndIsRemembered) {
    web.edEmail = "ann@example.com";
    web.edEmailTo = "rep@dealer.example";
    ASSERT_EQ(btnSendClick(web), kFeedbackSent);
    EXPECT_EQ(service.Field("EmailTo"), "rep@dealer.example");
    FormShow(web);
    EXPECT_EQ(web.edEmailTo, "rep@dealer.example");
    EXPECT_EQ(web.edName, "Ann Example");
}

TEST_F(Feedback, DescriptionIsCutTo2048Characters) {
    web.respondVia = 0;
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "\xC3\xA9";  // two bytes, one character
    web.reDescription = text;
    ASSERT_EQ(btnSendClick(web), kFeedbackSent);
    EXPECT_EQ(service.Field("Feedback"), text.substr(0, 4096));
}

TEST_F(Feedback, LogIsCutBeforeTheWindowOpensAndAttachedWhole) {
    const std::string path = dir.Path("app.errors.txt");
    TarsaLog log(path.c_str(), kLogDetail, false);
    for (int i = 0; log.Size() < 100000; ++i) log.Write(kLogOutcome, "T", "line %d of the log", i);
    info.attachment1 = path;
    ASSERT_TRUE(LaunchFeedback(web, info, &log, "Talox Firmware Updater"));
    const std::string kept = ReadWhole(path);
    EXPECT_LE(kept.size(), kFeedbackLogTailBytes);
    EXPECT_GT(kept.size(), kFeedbackLogTailBytes - 200);
    EXPECT_TRUE(isdigit(static_cast<unsigned char>(kept[0])));  // starts with a stamp
    EXPECT_TRUE(ui.visible);

    web.edName = "Ann";
    web.respondVia = 0;
    ASSERT_EQ(btnSendClick(web), kFeedbackSent);
    EXPECT_EQ(service.Field("app.errors.txt"), kept);
}

TEST_F(Feedback, EmptyLogIsNotedNotCut) {
    const std::string path = dir.Path("empty.errors.txt");
    TarsaLog log(path.c_str(), kLogDetail, false);
    ASSERT_TRUE(LaunchFeedback(web, info, &log, "Talox Firmware Updater"));
    EXPECT_NE(
        ReadWhole(path).find(
            " - Talox Firmware Updater: Launching web feedback with an empty error file.\r\n"),
        std::string::npos);
}

TEST_F(Feedback, UnreadableLogIsLeftOutSilently) {
    info.attachment1 = dir.Path("no such log.txt");
    SetFormInfo(web, info);
    web.respondVia = 0;
    ASSERT_EQ(btnSendClick(web), kFeedbackSent);
    EXPECT_EQ(service.Posted().size(), 13u);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "Feedback Successfully Sent");
}

TEST_F(Feedback, VanishedUserFileStopsWithErrorReadingFile) {
    web.respondVia = 0;
    ASSERT_TRUE(SetSendFile(web, dir.Write("notes.txt", "x")));
    unlink(web.sendFilePath.c_str());
    EXPECT_EQ(btnSendClick(web), kFeedbackFileError);
    EXPECT_EQ(service.Posts(), 0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "Error sending the file \"notes.txt\". \nThe file is empty or can't be found on the "
              "system.\n\nPlease check your file name and try again.");
    EXPECT_EQ(ui.messages[0].caption, "Error Reading File");
    EXPECT_EQ(ui.messages[0].kind, kWebError);
}

TEST_F(Feedback, UserFileSizeLimitIsEightMegabytes) {
    ui.chosenFile = SizedFile("exact.bin", 8388608);
    btnSendFileClick(web);
    EXPECT_EQ(ui.dialogs, std::vector<std::string>{
                              "Send File with Feedback|Any File Type (*.*)|*.*|/opt/tarsa"});
    EXPECT_EQ(web.edSendFile, "exact.bin");
    EXPECT_TRUE(ui.messages.empty());

    ui.chosenFile = SizedFile("over.bin", 8388609);
    btnSendFileClick(web);
    EXPECT_EQ(web.edSendFile, "");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "The file \"over.bin\" is too big.\n\nThe maximun file size you can send with your "
              "feedback\nis 8 megabytes (this file is 8.0 MB).\n\nPlease choose a different file "
              "to send.");
    EXPECT_EQ(ui.messages[0].caption, "File Size Error");

    ui.chosenFile = "";  // cancelled: the choice is emptied
    web.edSendFile = "exact.bin";
    btnSendFileClick(web);
    EXPECT_EQ(web.edSendFile, "");
}

TEST_F(Feedback, LargeUploadsShowProgressAndArriveWhole) {
    web.respondVia = 0;
    std::string content(3 * 1048576, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
    ASSERT_TRUE(SetSendFile(web, dir.Write("big.dat", content)));
    ASSERT_EQ(btnSendClick(web), kFeedbackSent);
    EXPECT_EQ(ui.progressShows, 1);
    EXPECT_GT(ui.progressMax, content.size());
    ASSERT_FALSE(ui.positions.empty());
    for (size_t i = 1; i < ui.positions.size(); ++i)
        EXPECT_GE(ui.positions[i], ui.positions[i - 1]);
    EXPECT_EQ(ui.positions.back(), ui.progressMax);
    EXPECT_FALSE(ui.progressVisible);
    EXPECT_GT(ui.pumps, 0);
    EXPECT_EQ(service.Field("big.dat"), content);
}

TEST_F(Feedback, SmallUploadsShowNoProgress) {
    web.respondVia = 0;
    ASSERT_TRUE(SetSendFile(web, SizedFile("small.dat", 2 * 1048576 - 8192)));
    ASSERT_EQ(btnSendClick(web), kFeedbackSent);
    EXPECT_EQ(ui.progressShows, 0);
    EXPECT_EQ(service.Field("small.dat").size(), 2u * 1048576 - 8192);
}

TEST_F(Feedback, ClosingTheWindowCancelsTheUpload) {
    web.respondVia = 0;
    ASSERT_TRUE(SetSendFile(web, SizedFile("big.dat", 4 * 1048576)));
    ui.onPump = [this] {
        if (web.sending) {
            ui.visible = false;
            FormClose(web);
        }
    };
    EXPECT_EQ(btnSendClick(web), kFeedbackFailed);
    EXPECT_TRUE(ui.messages.empty());  // the window is gone: nothing more to say
    EXPECT_FALSE(web.sending);
}

TEST_F(Feedback, UnconfirmedSubmissionKeepsTheFormAndSaysWhy) {
    web.respondVia = 0;
    web.reDescription = "kept";
    service.replyText = "<p>Database unavailable</p>";
    EXPECT_EQ(btnSendClick(web), kFeedbackFailed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text,
              "There was an error trying to send your General Feedback to Corvane.\n\n"
              "Please try again.");
    EXPECT_EQ(ui.messages[0].caption, "Error Sending Feedback");
    EXPECT_EQ(ui.messages[0].kind, kWebWarning);
    EXPECT_EQ(web.reDescription, "kept");
    EXPECT_EQ(ui.closes, 0);

    service.replyStatus = 500;
    ui.messages.clear();
    EXPECT_EQ(btnSendClick(web), kFeedbackFailed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("\n\nError: The service answered with HTTP status 500."),
              std::string::npos);
}

TEST_F(Feedback, ServiceGoneAtSendReportsTheReason) {
    web.respondVia = 0;
    web.feedbackService = ClosedBase();
    EXPECT_EQ(btnSendClick(web), kFeedbackFailed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("Please try again.\n\nError: "), std::string::npos);
    EXPECT_EQ(store.values["Name"], "Ann Example");  // saved before the attempt
}

TEST_F(Feedback, ShowChecksTheServiceFirst) {
    ui.visible = false;
    store.values = {{"Name", "Stored Name"}, {"Company", "Stored Co"}, {"EmailTo", "r@d.example"}};
    info.programTitle = "";
    info.registeredCompany = "Registered Co";
    SetFormInfo(web, info);
    ASSERT_TRUE(ShowFeedback(web));
    EXPECT_EQ(service.Probes(), 1);
    EXPECT_TRUE(ui.visible);
    EXPECT_EQ(web.edName, "Stored Name");
    EXPECT_EQ(web.edCompany, "Registered Co");
    EXPECT_EQ(web.edEmailTo, "r@d.example");
    EXPECT_EQ(web.chkErrorLogCaption, "Include TarsaBSL error log files");
    EXPECT_EQ(web.respondVia, 1);
    EXPECT_EQ(web.feedbackKind, "General Feedback");

    ui.visible = false;
    web.feedbackService = ClosedBase();
    EXPECT_FALSE(ShowFeedback(web));
    EXPECT_FALSE(ui.visible);
    ASSERT_EQ(ui.messages.size(), 1u);
    const std::string head =
        std::string(
            "Error connecting to Corvane's customer feedback internet service.\n\n"
            "This feature requires your computer to be connected to the internet\n"
            "and be able to contact Corvane's Web Site (") +
        MakerWebHost() + ").\n\nPlease make a connection to the internet and try again.\n\nError: ";
    EXPECT_EQ(ui.messages[0].text.substr(0, head.size()), head);
    EXPECT_EQ(ui.messages[0].caption, "Internet Access Error");
    EXPECT_EQ(ui.messages[0].kind, kWebError);
}

TEST_F(Feedback, KindsAndTheirLabels) {
    const std::pair<const char*, const char*> expected[] = {
        {"General Feedback", "Please describe the feedback below"},
        {"Feature Suggestion", "Please describe the feature suggestion below"},
        {"Bug Report", "Please describe the bug or issue below"},
        {"Other Feedback", "Please describe the other feedback below"},
    };
    for (int i = 0; i < 4; ++i) {
        web.feedbackType = i;
        cbFeedbackTypeChange(web);
        EXPECT_EQ(web.feedbackKind, expected[i].first);
        EXPECT_EQ(web.lblDescription, expected[i].second);
    }
    web.feedbackType = -1;
    cbFeedbackTypeChange(web);
    EXPECT_EQ(web.feedbackKind, "General Feedback");
}

}  // namespace
}  // namespace tarsa
