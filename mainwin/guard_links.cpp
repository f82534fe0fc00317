#include "mainwin/guard_links.h"

namespace corvex::mainwin {

int GuardJobsLink::Submit(const link::GuardRecord& record) {
    const int slot = m_guard.Submit(record);
    if (slot >= 0) {
        m_feedback.jobSubmitted(record);
    }
    return slot;
}

int GuardJobsLink::Submit(const link::GuardRecord& record, FileSetter setter,
                          const std::string& name) {
    link::FileSlot slot = link::FileSlot::Read;
    switch (setter) {
    case FileSetter::ReadFile:
        slot = link::FileSlot::Read;
        break;
    case FileSetter::WriteFile:
        slot = link::FileSlot::Write;
        break;
    case FileSetter::EESaveFile:
        slot = link::FileSlot::EESave;
        break;
    case FileSetter::EELoadFile:
        slot = link::FileSlot::EELoad;
        break;
    case FileSetter::None:
        return Submit(record);
    }
    const int taken = m_guard.Submit(record, slot, name);
    if (taken >= 0) {
        if (slot == link::FileSlot::Read) {
            m_feedback.readFileSet(name);
        }
        m_feedback.jobSubmitted(record);
    }
    return taken;
}

bool GuardJobsLink::busy() const {
    return m_guard.GuardState() == link::GuardStateValue::Busy || !m_guard.isIdle();
}

} // namespace corvex::mainwin
