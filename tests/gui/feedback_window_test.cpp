// Tests of the feedback window on the offscreen platform, against a real
// HTTP server on 127.0.0.1: the controls and texts it draws, what typing and
// clicking in it sends, the dialogs it opens (answered by a watcher that
// clicks them as a user would), the upload progress bar, cancelling by
// closing, and the bad-input paths that must leave the window usable.
#include "gui/feedback_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui_test_support.h"
#include "web/feedback_texts.h"
#include "web/web_test_support.h"

namespace tarsa::gui {
namespace {

using webtest::ClosedBase;
using webtest::FakeWindow;
using webtest::MemoryStore;
using webtest::TempDir;

struct Shown {
    std::string caption, text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    bool plain;  // markup in the text is shown as it is
};

// Answers every modal dialog as soon as it is open: message boxes are
// recorded and dismissed (with `answerYes` when they ask), file dialogs are recorded and
// given `file` (cancelled when it is empty). Runs from the event loop the
// dialogs themselves run.
class DialogWatcher : public QObject {
  public:
    DialogWatcher() {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, &DialogWatcher::Answer);
        timer_.start();
    }
    std::vector<Shown> boxes;
    std::vector<QString> fileDialogs;  // title|filters|folder
    std::string file;
    bool answerYes = false;

  private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                             box->icon(), box->standardButtons(),
                             box->textFormat() == Qt::PlainText});
            QMessageBox::StandardButton answer = QMessageBox::Ok;
            if (box->standardButtons() & QMessageBox::No)
                answer = answerYes ? QMessageBox::Yes : QMessageBox::No;
            box->button(answer)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            fileDialogs.push_back(dialog->windowTitle() + "|" + dialog->nameFilters().join(";") +
                                  "|" + dialog->directory().absolutePath());
            if (file.empty()) {
                dialog->reject();
            } else {
                dialog->selectFile(QString::fromStdString(file));
                static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own, checks the file
            }
        }
    }
    QTimer timer_;
};

class FeedbackWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        form.feedbackService = service.Base();
        form.mimeTable = dir.Write("mime.types", "text/plain txt log\n");
        info.programTitle = "Talox Firmware Updater";
        info.programVersion = "Talox 2.29";
        info.defaultEmailTo = "support@maker.example";
        info.attachment1 = dir.Write("Talox Firmware Updater.errors.txt", "log line\n");
        info.browseFolder = dir.Root();
        store.values["Name"] = "Ann Example";
        store.values["Email"] = "ann@example.com";
        ASSERT_TRUE(LaunchFeedback(form, info, nullptr, "Talox Firmware Updater"));
    }

    template <typename W>
    W* Control(const char* name) {
        W* w = window.findChild<W*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void Type(const char* name, const QString& text) { Control<QLineEdit>(name)->setText(text); }
    void ClickSend() { Control<QPushButton>("btnSend")->click(); }
    void Browse(const std::string& file) {
        dialogs.file = file;
        Control<QPushButton>("btnSendFile")->click();
    }

    QApplication& app = TestApplication();
    webtest::FeedbackService service;
    TempDir dir;
    FakeWindow headless;  // the record's interface until the window takes over
    MemoryStore store;
    TfrmWeb form{headless, store, nullptr};
    FeedbackWindow window{form};
    WEB_FORM_INFO_TYPE info;
    DialogWatcher dialogs;
};

TEST_F(FeedbackWindowTest, DrawsEveryControlOfTheTable) {
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), "Send Feedback to Halvern");
    EXPECT_EQ(window.size(), QSize(383, 492));
    for (const FeedbackControlText& t : kFeedbackControlTexts) {
        QWidget* control = Control<QWidget>(t.name);
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(control->isVisible()) << t.name;
        EXPECT_EQ(control->toolTip(), t.hint) << t.name;
        if (*t.caption) {
            EXPECT_EQ(qobject_cast<QPushButton*>(control)->text(), t.caption);
        }
        if (!*t.label) continue;
        const auto labels = window.findChildren<QLabel*>();
        const bool labelled = std::any_of(labels.begin(), labels.end(), [&](QLabel* l) {
            return l->buddy() == control && l->text() == t.label && l->isVisible();
        });
        EXPECT_TRUE(labelled) << t.name;
    }
    auto items = [](QComboBox* box) {
        std::vector<std::string> out;
        for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i).toStdString());
        return out;
    };
    EXPECT_EQ(
        items(Control<QComboBox>("cbFeedbackType")),
        std::vector<std::string>(std::begin(kFeedbackTypeItems), std::end(kFeedbackTypeItems)));
    EXPECT_EQ(Control<QComboBox>("cbFeedbackType")->currentText(), "General Feedback");
    EXPECT_EQ(Control<QComboBox>("cbRespondVia")->count(), kRespondViaCount);
    EXPECT_EQ(Control<QComboBox>("cbRespondVia")->currentText(), "Email");
    EXPECT_EQ(Control<QLineEdit>("edName")->text(), "Ann Example");  // stored details
    EXPECT_TRUE(Control<QLineEdit>("edSendFile")->isReadOnly());
    EXPECT_TRUE(Control<QPushButton>("btnSend")->isDefault());
    EXPECT_FALSE(Control<QProgressBar>("pbWeb")->isVisible());
    EXPECT_FALSE(Control<QCheckBox>("chkErrorLog")->isVisible());
    EXPECT_EQ(Control<QCheckBox>("chkErrorLog")->text(),
              "Include Talox Firmware Updater error log files");

    Control<QComboBox>("cbFeedbackType")->setCurrentIndex(2);
    EXPECT_EQ(Control<QLabel>("lblDescription")->text(), "Please describe the bug or issue below");
    Control<QPlainTextEdit>("reDescription")->setPlainText(QString(3000, 'x'));
    EXPECT_EQ(Control<QPlainTextEdit>("reDescription")->toPlainText().size(), 2048);
}

TEST_F(FeedbackWindowTest, EachRefusedFieldIsNamedAndFocused) {
    struct Case {
        QString name, email, phone, emailTo;
        int respondVia;
        const char* caption;
        std::string text;
        const char* focus;
    };
    const std::string address =
        "Please enter a complete email address including\nthe '@' symbol and domain name.";
    const Case cases[] = {
        {"", "", "", "", 1, "Missing Information", "Please enter your name in the name field",
         "edName"},
        {"Ann", "", "", "", 1, "Missing Information",
         "Please enter your phone number or email address so Corvane can respond to your "
         "feedback.",
         "edTelephone"},
        {"Ann", "", "555", "rep", 1, "Bad Email Address",
         "The email address you entered for your Corvane\nRepresentative isn't complete.\n\n" +
             address,
         "edEmailTo"},
        {"Ann", "ann.example.com", "", "", 1, "Bad Email Address",
         "The email address you entered doesn't seem to be correct.\n\n" + address, "edEmail"},
        {"Ann", "ann @example.com", "", "", 1, "Bad Email Address",
         "The email address you entered doesn't seem to be correct.\n\n" + address +
             "\n\nPlease remove any space characters in the email address.",
         "edEmail"},
    };
    for (const Case& c : cases) {
        dialogs.boxes.clear();
        Type("edName", c.name);
        Type("edEmail", c.email);
        Type("edTelephone", c.phone);
        Type("edEmailTo", c.emailTo);
        Control<QComboBox>("cbRespondVia")->setCurrentIndex(c.respondVia);
        Control<QLineEdit>("edCompany")->setFocus();
        if (&c == &cases[0]) {  // Return in an edit presses Send, the default button
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(Control<QLineEdit>("edCompany"), &enter);
        } else {
            ClickSend();
        }
        ASSERT_EQ(dialogs.boxes.size(), 1u) << c.text;
        EXPECT_EQ(dialogs.boxes[0].caption, c.caption);
        EXPECT_EQ(dialogs.boxes[0].text, c.text);
        EXPECT_EQ(dialogs.boxes[0].icon, QMessageBox::Warning);
        EXPECT_EQ(dialogs.boxes[0].buttons, QMessageBox::Ok);
        EXPECT_EQ(window.focusWidget(), Control<QWidget>(c.focus)) << c.focus;
        EXPECT_TRUE(window.isVisible());
    }
    EXPECT_EQ(service.Posts(), 0);
}

TEST_F(FeedbackWindowTest, SendPostsWhatWasTypedWithTheLogAndTheChosenFile) {
    Browse(dir.Write("notes.txt", "my notes"));
    ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
    EXPECT_EQ(dialogs.fileDialogs[0], "Send File with Feedback|Any File Type (*.*) (*)|" +
                                          QString::fromStdString(dir.Root()));
    EXPECT_EQ(Control<QLineEdit>("edSendFile")->text(), "notes.txt");

    Type("edCompany", "Field Co");
    Type("edEmail", "ann@example.com");
    Type("edTelephone", "+1 555 0100");
    Type("edEmailTo", "rep@halvern.example");
    Control<QComboBox>("cbFeedbackType")->setCurrentIndex(1);
    Control<QComboBox>("cbRespondVia")->setCurrentIndex(4);
    Control<QPlainTextEdit>("reDescription")->setPlainText("Line one\nline two");
    bool progressShown = false;
    QObject::connect(Control<QProgressBar>("pbWeb"), &QProgressBar::valueChanged,
                     [&] { progressShown = true; });
    ClickSend();

    EXPECT_EQ(service.Field("EmailTo"), "rep@halvern.example");
    EXPECT_EQ(service.Field("EmailSubject"), "Talox Firmware Updater Feature Suggestion");
    EXPECT_EQ(service.Field("Name"), "Ann Example");
    EXPECT_EQ(service.Field("Company Name"), "Field Co");
    EXPECT_EQ(service.Field("Email"), "ann@example.com");
    EXPECT_EQ(service.Field("Telephone"), "+1 555 0100");
    EXPECT_EQ(service.Field("Respond Via"), "Telephone (afternoon is best)");
    EXPECT_EQ(service.Field("Software Version"), "Talox Firmware Updater version Talox 2.29");
    EXPECT_EQ(service.Field("Feedback"), "Line one\nline two");
    EXPECT_EQ(service.Field("Talox Firmware Updater.errors.txt"), "log line\n");
    EXPECT_EQ(service.Field("notes.txt"), "my notes");
    EXPECT_FALSE(progressShown);
    EXPECT_EQ(store.values["Company"], "Field Co");

    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].caption, "Feedback Successfully Sent");
    EXPECT_EQ(dialogs.boxes[0].text, "Thank you for submitting your Feature Suggestion.");
    EXPECT_EQ(dialogs.boxes[0].icon, QMessageBox::Information);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(FeedbackWindowTest, ThreeMegabyteUploadShowsTheProgressBar) {
    Browse(dir.Write("big.dat", std::string(3 * 1048576, 'b')));
    auto* bar = Control<QProgressBar>("pbWeb");
    int shownValues = 0;
    int maximum = 0;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
        if (!bar->isVisible()) return;
        ++shownValues;
        maximum = bar->maximum();
        EXPECT_FALSE(Control<QPushButton>("btnSend")->isEnabled());
        EXPECT_LE(v, maximum);
    });
    ClickSend();
    EXPECT_GT(shownValues, 0);
    EXPECT_GT(maximum, 3 * 1048576);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(service.Field("big.dat").size(), 3u * 1048576);
}

TEST_F(FeedbackWindowTest, ClosingTheWindowDuringTheUploadCancelsIt) {
    service.Hold();  // the service takes the body and does not answer
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (form.sending && service.Posts() > 0) window.close();
    });
    closer.start();
    ClickSend();
    EXPECT_EQ(service.Replies(), 0);  // returned while the service still held its answer
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(form.sending);
    EXPECT_TRUE(dialogs.boxes.empty());  // closed by the user: nothing more to say
    EXPECT_TRUE(Control<QPushButton>("btnSend")->isEnabled());
}

TEST_F(FeedbackWindowTest, MessagesShowTheirKindsIconAndButtons) {
    struct Case {
        int kind;
        bool ask, yes;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        bool result;
    };
    const Case cases[] = {
        {kWebWarning, false, true, QMessageBox::Warning, QMessageBox::Ok, false},
        {kWebError, false, true, QMessageBox::Critical, QMessageBox::Ok, false},
        {kWebInformation, true, true, QMessageBox::Information, QMessageBox::Yes | QMessageBox::No,
         true},
        {kWebConfirmation, true, false, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         false},
    };
    for (const Case& c : cases) {
        dialogs.boxes.clear();
        dialogs.answerYes = c.yes;
        EXPECT_EQ(window.WebMessage("Line one\nline <b>two</b>", "Caption", c.ask, c.kind),
                  c.result);
        ASSERT_EQ(dialogs.boxes.size(), 1u);
        EXPECT_EQ(dialogs.boxes[0].icon, c.icon) << c.kind;
        EXPECT_EQ(dialogs.boxes[0].buttons, c.buttons) << c.kind;
        EXPECT_EQ(dialogs.boxes[0].caption, "Caption");
        EXPECT_TRUE(dialogs.boxes[0].plain);
    }
}

TEST_F(FeedbackWindowTest, UnreachableServiceGivesInternetAccessError) {
    window.hide();
    form.feedbackService = ClosedBase();
    EXPECT_FALSE(ShowFeedback(form));
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].caption, "Internet Access Error");
    EXPECT_EQ(dialogs.boxes[0].text.rfind(
                  "Error connecting to Corvane's customer feedback internet service.\n\n", 0),
              0u);
    EXPECT_EQ(dialogs.boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(FeedbackWindowTest, TwoGigabyteFileIsRefusedAndTheWindowStaysUsable) {
    const std::string huge = dir.Write("huge.iso", "");
    ASSERT_EQ(truncate(huge.c_str(), off_t{2048} * 1048576), 0);  // sparse: no blocks written
    Browse(huge);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].caption, "File Size Error");
    EXPECT_NE(dialogs.boxes[0].text.find("(this file is 2048.0 MB)"), std::string::npos);
    EXPECT_EQ(dialogs.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(Control<QLineEdit>("edSendFile")->text().isEmpty());
    EXPECT_TRUE(window.isVisible());

    Browse(dir.Write("small.txt", "fits"));
    EXPECT_EQ(Control<QLineEdit>("edSendFile")->text(), "small.txt");
    ClickSend();
    EXPECT_EQ(service.Field("small.txt"), "fits");
    EXPECT_EQ(service.Field("huge.iso"), "<missing>");
    EXPECT_EQ(dialogs.boxes.back().caption, "Feedback Successfully Sent");
}

}  // namespace
}  // namespace tarsa::gui
