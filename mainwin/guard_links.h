#pragma once

#include "link/guard/guard.h"
#include "mainwin/guard_feedback.h"
#include "mainwin/job_dispatch.h"

#include <string>

// The running Guard thread bound to the models: the models see only the GuardLink, GuardJobs and
// GuardEvents interfaces, so tests drive them with fakes and no thread.
namespace corvex::mainwin {

class GuardThreadLink final : public GuardLink {
public:
    explicit GuardThreadLink(link::TCorvexThread& guard) : m_guard(guard) {}
    int Submit(const link::GuardRecord& record) override { return m_guard.Submit(record); }
    void Break() override { m_guard.Break(); }
    void BreakOnTimeout() override { m_guard.BreakOnTimeout(); }
    [[nodiscard]] std::int32_t PendingDepth() const override { return m_guard.PendingDepth(); }
    [[nodiscard]] std::uint32_t ExchangesDone() const override { return m_guard.ExchangesDone(); }
    [[nodiscard]] std::uint32_t CurrentArea() const override { return m_guard.CurrentArea(); }
    int takeLog(link::GuardRecord& record) override { return m_guard.takeLog(record); }
    [[nodiscard]] bool isIdle() const override { return m_guard.isIdle(); }

private:
    link::TCorvexThread& m_guard;
};

// Every job the window's models hand the Guard passes here, so the feedback knows which job
// runs and which file a firmware read saves into.
class GuardJobsLink final : public GuardJobs {
public:
    GuardJobsLink(link::TCorvexThread& guard, GuardFeedback& feedback)
        : m_guard(guard), m_feedback(feedback) {}
    int Submit(const link::GuardRecord& record) override;
    int Submit(const link::GuardRecord& record, FileSetter setter,
               const std::string& name) override;
    [[nodiscard]] bool busy() const override;

private:
    link::TCorvexThread& m_guard;
    GuardFeedback& m_feedback;
};

// Hands a Guard's events to the model; the window binds one to each Guard it creates.
class FeedbackEvents final : public link::GuardEvents {
public:
    explicit FeedbackEvents(GuardFeedback& feedback) : m_feedback(feedback) {}

    void OnProgress(link::TCorvexThread& s) override { area(s, link::AreaEvent::Progress); }
    void OnAreaReset(link::TCorvexThread& s) override { area(s, link::AreaEvent::Reset); }
    void OnAreaReading(link::TCorvexThread& s) override { area(s, link::AreaEvent::Reading); }
    void OnAreaReadOK(link::TCorvexThread& s) override { area(s, link::AreaEvent::ReadOK); }
    void OnAreaReadError(link::TCorvexThread& s) override { area(s, link::AreaEvent::ReadError); }
    void OnAreaErasing(link::TCorvexThread& s) override { area(s, link::AreaEvent::Erasing); }
    void OnAreaErased(link::TCorvexThread& s) override { area(s, link::AreaEvent::Erased); }
    void OnAreaEraseFailed(link::TCorvexThread& s) override {
        area(s, link::AreaEvent::EraseFailed);
    }
    void OnAreaProgramming(link::TCorvexThread& s) override {
        area(s, link::AreaEvent::Programming);
    }
    void OnAreaProgrammed(link::TCorvexThread& s) override { area(s, link::AreaEvent::Programmed); }
    void OnAreaProgramFailed(link::TCorvexThread& s) override {
        area(s, link::AreaEvent::ProgramFailed);
    }
    void OnAreaSkipped(link::TCorvexThread& s) override { area(s, link::AreaEvent::Skipped); }
    void OnAreaUpToDate(link::TCorvexThread& s) override { area(s, link::AreaEvent::UpToDate); }
    void OnAreaNeedsUpdate(link::TCorvexThread& s) override {
        area(s, link::AreaEvent::NeedsUpdate);
    }
    void OnMessage(link::TCorvexThread& /*sender*/, const link::GuardRecord& message) override {
        m_feedback.onMessage(message);
    }
    void OnTerminate(link::TCorvexThread& /*sender*/) override { m_feedback.onTerminate(); }

private:
    void area(link::TCorvexThread& sender, link::AreaEvent event) {
        m_feedback.onAreaEvent(event, sender.CurrentArea());
    }

    GuardFeedback& m_feedback;
};

} // namespace corvex::mainwin
