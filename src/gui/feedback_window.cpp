// The feedback window in Qt Widgets: controls drawn from the texts table of
// src/web, the record's handlers behind the buttons, and the dialogs, cursor,
// progress bar and file dialog the record asks for.
#include "gui/feedback_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

#include "web/feedback_texts.h"

namespace tarsa::gui {

namespace {

constexpr int kMessageMaxLineWidth = 560;  // pixels

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// File names are bytes on this system; Qt's file-name codec maps them both ways.
QString QPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string StdPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

template <typename Control>
Control* Named(Control* control, const char* name) {
    const FeedbackControlText t = FeedbackTextsOf(name);
    control->setObjectName(name);
    if (*t.hint) control->setToolTip(t.hint);
    return control;
}

// The control's label from the table, above the control (or above `body`,
// a row that holds the control); named "lbl" + the control's name without its
// two-letter kind.
QVBoxLayout* Labelled(QWidget* control, QWidget* owner, QLayout* body = nullptr) {
    auto* label = new QLabel(FeedbackTextsOf(control->objectName().toStdString()).label, owner);
    label->setObjectName("lbl" + control->objectName().mid(2));
    label->setBuddy(control);
    label->setWordWrap(label->sizeHint().width() > kFeedbackClientWidth / 2);  // the long ones
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(label);
    if (body)
        column->addLayout(body);
    else
        column->addWidget(control);
    return column;
}

QMessageBox::Icon IconOf(int kind) {
    switch (kind) {
        case kWebError:
            return QMessageBox::Critical;
        case kWebInformation:
            return QMessageBox::Information;
        case kWebConfirmation:
            return QMessageBox::Question;
        default:
            return QMessageBox::Warning;
    }
}

}  // namespace

QStringList NameFilters(const std::string& filter) {
    const QStringList pieces = Q(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        QStringList patterns = pieces[i + 1].split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns)
            if (p.trimmed() == "*.*") p = "*";
        filters << pieces[i] + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

FeedbackWindow::FeedbackWindow(TfrmWeb& form, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      form_(form),
      previousUi_(form.ui) {
    setObjectName("frmWeb");
    setWindowTitle(kFeedbackCaption);
    BuildControls();
    setFixedSize(kFeedbackClientWidth, kFeedbackClientHeight);
    form_.ui = this;
}

FeedbackWindow::~FeedbackWindow() {
    if (busyCursor_) QApplication::restoreOverrideCursor();
    form_.ui = previousUi_;
}

void FeedbackWindow::BuildControls() {
    edName_ = Named(new QLineEdit(this), "edName");
    edCompany_ = Named(new QLineEdit(this), "edCompany");
    edEmail_ = Named(new QLineEdit(this), "edEmail");
    edTelephone_ = Named(new QLineEdit(this), "edTelephone");
    cbFeedbackType_ = Named(new QComboBox(this), "cbFeedbackType");
    for (const char* item : kFeedbackTypeItems) cbFeedbackType_->addItem(item);
    cbRespondVia_ = Named(new QComboBox(this), "cbRespondVia");
    for (const char* item : kRespondViaItems) cbRespondVia_->addItem(item);
    for (QComboBox* box : {cbFeedbackType_, cbRespondVia_}) {
        // Both columns share the width equally; the open list shows whole items.
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(12);
    }
    lblDescription_ = Named(new QLabel(Q(form_.lblDescription), this), "lblDescription");
    reDescription_ = Named(new QPlainTextEdit(this), "reDescription");
    reDescription_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    reDescription_->setTabChangesFocus(true);
    lblDescription_->setBuddy(reDescription_);
    edSendFile_ = Named(new QLineEdit(this), "edSendFile");
    edSendFile_->setReadOnly(true);
    btnSendFile_ =
        Named(new QPushButton(FeedbackTextsOf("btnSendFile").caption, this), "btnSendFile");
    btnSendFile_->setAutoDefault(false);
    btnSendFile_->setFixedWidth(btnSendFile_->sizeHint().height() + 4);
    chkErrorLog_ = Named(new QCheckBox(this), "chkErrorLog");
    chkErrorLog_->hide();
    edEmailTo_ = Named(new QLineEdit(this), "edEmailTo");
    pbWeb_ = Named(new QProgressBar(this), "pbWeb");
    pbWeb_->setTextVisible(false);
    QSizePolicy keepPlace = pbWeb_->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);  // showing it must not move the other controls
    pbWeb_->setSizePolicy(keepPlace);
    pbWeb_->hide();
    btnSend_ = Named(new QPushButton(FeedbackTextsOf("btnSend").caption, this), "btnSend");
    btnSend_->setDefault(true);
    btnSend_->setMinimumWidth(90);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(6);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    grid->addLayout(Labelled(edName_, this), 0, 0);
    grid->addLayout(Labelled(edCompany_, this), 0, 1);
    grid->addLayout(Labelled(edEmail_, this), 1, 0);
    grid->addLayout(Labelled(edTelephone_, this), 1, 1);
    grid->addLayout(Labelled(cbFeedbackType_, this), 2, 0);
    grid->addLayout(Labelled(cbRespondVia_, this), 2, 1);

    auto* fileRow = new QHBoxLayout;
    fileRow->setSpacing(4);
    fileRow->addWidget(edSendFile_);
    fileRow->addWidget(btnSendFile_);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(pbWeb_, 1);
    bottom->addSpacing(10);
    bottom->addWidget(btnSend_);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(10, 10, 10, 10);
    outer->setSpacing(6);
    outer->addLayout(grid);
    outer->addSpacing(4);
    outer->addWidget(lblDescription_);
    outer->addWidget(reDescription_, 1);
    outer->addSpacing(4);
    outer->addLayout(Labelled(edSendFile_, this, fileRow));
    outer->addWidget(chkErrorLog_);
    outer->addLayout(Labelled(edEmailTo_, this));
    outer->addSpacing(4);
    outer->addLayout(bottom);

    connect(cbFeedbackType_, &QComboBox::currentIndexChanged, this,
            &FeedbackWindow::FeedbackTypeChanged);
    connect(btnSendFile_, &QPushButton::clicked, this, &FeedbackWindow::SendFileClicked);
    connect(btnSend_, &QPushButton::clicked, this, &FeedbackWindow::SendClicked);
    connect(reDescription_, &QPlainTextEdit::textChanged, this, &FeedbackWindow::LimitDescription);
}

void FeedbackWindow::FormToControls() {
    filling_ = true;
    edName_->setText(Q(form_.edName));
    edCompany_->setText(Q(form_.edCompany));
    edEmail_->setText(Q(form_.edEmail));
    edTelephone_->setText(Q(form_.edTelephone));
    edEmailTo_->setText(Q(form_.edEmailTo));
    edSendFile_->setText(Q(form_.edSendFile));
    reDescription_->setPlainText(Q(form_.reDescription));
    cbFeedbackType_->setCurrentIndex(form_.feedbackType);
    cbRespondVia_->setCurrentIndex(form_.respondVia);
    lblDescription_->setText(Q(form_.lblDescription));
    chkErrorLog_->setText(Q(form_.chkErrorLogCaption));
    filling_ = false;
}

void FeedbackWindow::ControlsToForm() {
    form_.edName = edName_->text().toStdString();
    form_.edCompany = edCompany_->text().toStdString();
    form_.edEmail = edEmail_->text().toStdString();
    form_.edTelephone = edTelephone_->text().toStdString();
    form_.edEmailTo = edEmailTo_->text().toStdString();
    form_.reDescription = reDescription_->toPlainText().toStdString();
    form_.feedbackType = cbFeedbackType_->currentIndex();
    form_.respondVia = cbRespondVia_->currentIndex();
}

void FeedbackWindow::FeedbackTypeChanged(int index) {
    if (filling_) return;
    form_.feedbackType = index;
    cbFeedbackTypeChange(form_);
    lblDescription_->setText(Q(form_.lblDescription));
}

void FeedbackWindow::SendFileClicked() {
    btnSendFileClick(form_);
    edSendFile_->setText(Q(form_.edSendFile));
}

void FeedbackWindow::SendClicked() {
    ControlsToForm();
    btnSendClick(form_);
}

// The description holds at most kMaxDescriptionChars characters; typing or
// pasting past that keeps the first ones.
void FeedbackWindow::LimitDescription() {
    const QString text = reDescription_->toPlainText();
    if (static_cast<size_t>(text.size()) <= kMaxDescriptionChars) return;
    qsizetype units = 0;  // UTF-16 units of the first kMaxDescriptionChars characters
    for (size_t chars = 0; units < text.size() && chars < kMaxDescriptionChars; ++chars)
        units += (text[units].isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
    if (units >= text.size()) return;
    const QSignalBlocker quiet(reDescription_);
    reDescription_->setPlainText(text.left(units));
    reDescription_->moveCursor(QTextCursor::End);
}

QWidget* FeedbackWindow::DialogParent() {
    if (QWidget* main = parentWidget()) return main->window();
    return isVisible() ? this : nullptr;
}

bool FeedbackWindow::WebMessage(const std::string& text, const std::string& caption, bool ask,
                                int kind) {
    QMessageBox box(IconOf(kind), Q(caption), Q(text),
                    ask ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, DialogParent());
    box.setObjectName("WebMessage");
    box.setTextFormat(Qt::PlainText);  // error texts from outside are never markup
    box.setDefaultButton(ask ? QMessageBox::Yes : QMessageBox::Ok);
    // The texts break their own lines; the box is made wide enough to keep
    // them whole, up to a width beyond which long ones (addresses, error
    // texts) wrap.
    if (auto* label = box.findChild<QLabel*>("qt_msgbox_label")) {
        int widest = 0;
        for (const QString& line : Q(text).split('\n'))
            widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
        label->setMinimumWidth(std::min(widest + 4, kMessageMaxLineWidth));
    }
    QApplication::beep();
    return box.exec() == QMessageBox::Yes;
}

// Only web addresses go to the browser: the address comes from a reply of the
// version service, and the desktop would open any other scheme with whatever
// program it maps to it.
bool FeedbackWindow::OpenUrl(const std::string& url) {
    const QUrl address(Q(url), QUrl::StrictMode);
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || (scheme != "http" && scheme != "https") || address.host().isEmpty())
        return false;
    return QDesktopServices::openUrl(address);
}

void FeedbackWindow::PumpMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void FeedbackWindow::ShowWindow() {
    FormToControls();
    QRect frame(QPoint(), size());
    if (QWidget* main = parentWidget())
        frame.moveCenter(main->window()->frameGeometry().center());
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
    show();
    raise();
    activateWindow();
    edName_->setFocus(Qt::OtherFocusReason);
}

void FeedbackWindow::HideWindow() {
    hide();
}

void FeedbackWindow::CloseWindow() {
    close();
}

bool FeedbackWindow::WindowVisible() {
    return isVisible();
}

void FeedbackWindow::SetFocus(WebControl control) {
    QLineEdit* target = edName_;
    if (control == WebControl::kEmail) target = edEmail_;
    if (control == WebControl::kTelephone) target = edTelephone_;
    if (control == WebControl::kEmailTo) target = edEmailTo_;
    target->setFocus(Qt::OtherFocusReason);
}

void FeedbackWindow::SetSendEnabled(bool enabled) {
    btnSend_->setEnabled(enabled);
}

void FeedbackWindow::SetBusyCursor(bool busy) {
    if (busy == busyCursor_) return;
    busyCursor_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void FeedbackWindow::ShowProgress(uint64_t maximum) {
    progressScale_ = maximum / INT_MAX + 1;
    pbWeb_->setRange(0, static_cast<int>(maximum / progressScale_));
    pbWeb_->setValue(0);
    pbWeb_->show();
}

void FeedbackWindow::SetProgress(uint64_t position) {
    const auto value = static_cast<int>(
        std::min<uint64_t>(position / progressScale_, static_cast<uint64_t>(pbWeb_->maximum())));
    pbWeb_->setValue(value);
}

void FeedbackWindow::HideProgress() {
    pbWeb_->hide();
}

std::string FeedbackWindow::ChooseFile(const std::string& title, const std::string& filter,
                                       const std::string& folder) {
    QFileDialog dialog(this, Q(title), QPath(folder));
    dialog.setObjectName("SendFileDialog");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(NameFilters(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return StdPath(dialog.selectedFiles().constFirst());
}

void FeedbackWindow::closeEvent(QCloseEvent* event) {
    FormClose(form_);
    QWidget::closeEvent(event);
}

// Return or Enter that no control took (the description keeps its own)
// presses the default button, as in a dialog.
void FeedbackWindow::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        if (btnSend_->isEnabled()) btnSend_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace tarsa::gui
