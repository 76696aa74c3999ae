#pragma once

#include "core/main_window.h"

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace p2k::test {

// A window without a screen: keeps what the program shows and answers
// questions from a script.
class FakeWindow : public MainWindow {
public:
    LogSink& logPane() override { return log; }
    void setStatusText(std::string_view utf8) override { status = utf8; }
    std::string fieldText(int controlId) override { return fields[controlId]; }
    void setFieldText(int controlId, std::string_view utf8) override { fields[controlId] = utf8; }
    void setProgressRange(uint32_t low, uint32_t high) override { progress.push_back({"range", low, high}); }
    void setProgressPosition(uint32_t position) override { progress.push_back({"position", position, 0}); }
    void showAbout() override { ++aboutShown; }
    bool askYesNo(std::string_view, std::string_view question, DefaultButton defaultButton) override
    {
        questions.emplace_back(question);
        defaultButtons.push_back(defaultButton);
        const bool answer = answers.empty() ? false : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return answer;
    }
    void notifyConnection(int32_t connected) override { notifications.push_back(connected); }

    struct ProgressStep {
        std::string what;
        uint32_t a;
        uint32_t b;
        bool operator==(const ProgressStep&) const = default;
        friend void PrintTo(const ProgressStep& step, std::ostream* out)
        {
            *out << step.what << ' ' << step.a << (step.what == "range" ? " " + std::to_string(step.b) : "");
        }
    };

    MemoryLogSink log;
    std::string status;
    std::map<int, std::string> fields;
    std::vector<ProgressStep> progress;
    int aboutShown = 0;
    std::vector<bool> answers;
    std::vector<std::string> questions;
    std::vector<DefaultButton> defaultButtons;
    std::vector<int32_t> notifications;
};

} // namespace p2k::test
