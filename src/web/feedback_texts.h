// The feedback window's own texts and size: its caption, the label, caption
// and hint of every control, and the title and filter of its file dialog.
// A window draws the controls from this table (by control name) and the
// form's logic opens the file dialog with the same title and filter, so no
// text of the window is written twice. The drop-down items are in
// feedback_form.h (the logic reads them too); the texts that change while the
// window is open (description label, check-box caption) live in TfrmWeb.
#pragma once

#include <string_view>

namespace tarsa {

inline constexpr const char* kFeedbackCaption = "Send Feedback to Halvern";
inline constexpr int kFeedbackClientWidth = 383;
inline constexpr int kFeedbackClientHeight = 492;

// The file dialog of the browse button. The filter is "description|patterns"
// pairs; "*.*" stands for every file, with or without an extension.
inline constexpr const char* kSendFileDialogTitle = "Send File with Feedback";
inline constexpr const char* kSendFileDialogFilter = "Any File Type (*.*)|*.*";

struct FeedbackControlText {
    const char* name;     // the control's name (the window's objectName)
    const char* label;    // the label drawn beside or above it; empty when none
    const char* caption;  // the control's own caption (buttons); empty when none
    const char* hint;     // the tool tip; empty when none
};

inline constexpr FeedbackControlText kFeedbackControlTexts[] = {
    {"edName", "Name (required)", "", "Please enter your first and last name"},
    {"edCompany", "Company Name", "", "Please enter the name of your company"},
    {"edEmail", "Email Address", "", "Please enter your email address"},
    {"edTelephone", "Telephone (include area code)", "",
     "Please enter your phone number including area and country codes"},
    {"cbFeedbackType", "Type of feedback", "",
     "What type of feedback do you want to send to Corvane?"},
    {"cbRespondVia", "Please respond via", "", "How can Corvane contact you?"},
    {"reDescription", "", "", "Please enter your comments here"},
    {"edSendFile", "Send the following file (file size can be up to 6 MB):", "",
     "Click the browse button to pick the file you want to send."},
    {"btnSendFile", "", "...", "Click this button to find the file you want to send."},
    {"edEmailTo", "Send the feedback to my Halvern Group Representative's email address:", "",
     "Enter your representative's email address here (jane.doe@halvern.example)"},
    {"btnSend", "", "Send", "Click to send this information to Corvane"},
};

// The texts of control `name`; a record of empty texts when the table has
// none for it.
constexpr FeedbackControlText FeedbackTextsOf(std::string_view name) {
    for (const FeedbackControlText& t : kFeedbackControlTexts)
        if (name == t.name) return t;
    return {"", "", "", ""};
}

}  // namespace tarsa
