#pragma once
// Every message box of the windows goes through here, so tests can answer them.

#include <QString>

class QWidget;

class MessageBoxes {
public:
    enum Answer { Yes, No, Cancel };

    virtual ~MessageBoxes() = default;
    // Modal boxes with one OK button: information and error kind, and a plain one. A detail
    // (file, OS reason, cure, what did not match) is the box's informative text, below its
    // fixed text.
    virtual void Information(QWidget* parent, const QString& text);
    virtual void Error(QWidget* parent, const QString& text, const QString& detail = {});
    virtual void Plain(QWidget* parent, const QString& title, const QString& text,
                       const QString& detail = {});
    // A question box with Yes, No and Cancel; closing it counts as Cancel.
    virtual Answer Question(QWidget* parent, const QString& title, const QString& text);
};

// The boxes in use; tests install their own with SetMessageBoxes.
MessageBoxes& Boxes();
void SetMessageBoxes(MessageBoxes* boxes);  // nullptr restores the real ones
