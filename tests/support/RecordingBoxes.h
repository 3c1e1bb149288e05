#pragma once
// Message boxes that answer themselves and remember what they showed.

#include <QString>
#include <vector>

#include "programming/MessageBoxes.h"

struct RecordingBoxes : MessageBoxes {
    struct Shown {
        QString Kind, Title, Text, Detail;
    };
    RecordingBoxes() { SetMessageBoxes(this); }
    ~RecordingBoxes() override { SetMessageBoxes(nullptr); }
    void Information(QWidget*, const QString& text) override {
        All.push_back({"information", "", text, ""});
    }
    void Error(QWidget*, const QString& text, const QString& detail) override {
        All.push_back({"error", "", text, detail});
    }
    void Plain(QWidget*, const QString& title, const QString& text,
               const QString& detail) override {
        All.push_back({"plain", title, text, detail});
    }
    // Questions take the next of Answers; Cancel when none is left.
    Answer Question(QWidget*, const QString& title, const QString& text) override {
        All.push_back({"question", title, text, ""});
        if (Answers.empty()) return Cancel;
        const Answer a = Answers.front();
        Answers.erase(Answers.begin());
        return a;
    }
    std::vector<Shown> All;
    std::vector<Answer> Answers;
};
