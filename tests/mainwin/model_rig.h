#pragma once

#include "mainwin/job_dispatch.h"
#include "tests/link/temp_dir.h"

namespace corvex::test {

// The Guard's queue and file name as the window's models leave them.
class FakeJobs : public mainwin::GuardJobs {
public:
    struct Request {
        std::string command;
        std::uint32_t param = 0;
        std::uint32_t address = 0;
        std::uint32_t data = 0;
        const void* target = nullptr;
        friend bool operator==(const Request&, const Request&) = default;
    };
    int Submit(const link::GuardRecord& r) override {
        if (refuse || running) {
            return -1;
        }
        submitted.push_back({r.Text.str(), r.Param, r.Address, r.Data, r.Target});
        return 0;
    }
    int Submit(const link::GuardRecord& r, mainwin::FileSetter which,
               const std::string& name) override {
        const int slot = Submit(r);
        if (slot >= 0) {
            setter = which;
            file = name;
        }
        return slot;
    }
    [[nodiscard]] bool busy() const override { return running; }
    /// "COMMAND:param" of each request.
    [[nodiscard]] std::vector<std::string> commands() const {
        std::vector<std::string> out;
        for (const Request& r : submitted) {
            out.push_back(r.command + ":" + std::to_string(r.param));
        }
        return out;
    }

    std::vector<Request> submitted;
    mainwin::FileSetter setter = mainwin::FileSetter::None;
    std::string file;
    bool refuse = false;
    bool running = false;
};

// The window as the models see it: dialogs take `answer`, questions `yes`; boxes recorded.
class FakeHost : public mainwin::DispatchHost, public mainwin::FeedbackView {
public:
    std::optional<std::string> chooseFile(const mainwin::FileDialogSpec& dialog,
                                          const std::string& preset) override {
        dialogs.push_back(std::string(dialog.title) + "|" + preset);
        return answer;
    }
    void showFlashPage() override { flashPage = true; }
    bool showMessage(const mainwin::MessageBox& box) override {
        boxes.push_back(box);
        return yes;
    }
    bool messageBox(const mainwin::MessageBox& box) override {
        shown.push_back(box);
        return true;
    }
    [[nodiscard]] std::vector<std::string> boxTexts() const {
        std::vector<std::string> out;
        for (const mainwin::MessageBox& box : boxes) {
            out.push_back(box.text);
        }
        return out;
    }

    std::optional<std::string> answer;
    bool yes = true;
    bool flashPage = false;
    std::vector<std::string> dialogs;
    std::vector<mainwin::MessageBox> boxes; // from the models
    std::vector<mainwin::MessageBox> shown; // from the Guard's messages
};

// The models' common ground: settings, the area map and the status feedback.
struct ModelRig {
    TempDir dir;
    mainwin::Settings settings;
    link::AreaTable table;
    mainwin::AreaModel areas{table};
    FakeHost host;
    mainwin::GuardFeedback feedback{areas, host, "Corvex V4.00C", dir.file("corvex.LOG")};
    FakeJobs jobs;
};

} // namespace corvex::test
