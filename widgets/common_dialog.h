// CommonDialog1, the run's file-open dialog. Like the control it stands for, it holds a filter
// in the form "description|pattern" and a file name, and ShowOpen() asks the user for a file.
// The user's answer is the one thing tests replace (setAnswerForTesting).
#pragma once

#include <QString>
#include <functional>

class QWidget;

class CommonDialog {
public:
    explicit CommonDialog(QWidget* owner) : owner_(owner) {}

    QString Filter;    // "BMP |*.bmp": description, "|", pattern
    QString FileName;  // the chosen file's full path; empty after a cancel

    // Shows the modal open dialog and sets FileName to the choice (empty when cancelled).
    void ShowOpen();

    // The filter as the dialog shows it: "BMP (*.bmp)".
    QString dialogFilter() const;

    // Replaces the user: `answer` receives the dialog filter and returns the chosen path ("" to
    // cancel). An empty function restores the real dialog.
    using Answer = std::function<QString(const QString& dialogFilter)>;
    static void setAnswerForTesting(Answer answer);

private:
    QWidget* owner_;
};
