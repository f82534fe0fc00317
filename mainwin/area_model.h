#pragma once

#include "link/jobs/area_table.h"
#include "link/jobs/guard_record.h"
#include "link/jobs/job_context.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace corvex::mainwin {

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kLightGrey{0xE0, 0xE0, 0xE0};
inline constexpr Rgb kLightGreen{0x7F, 0xE0, 0x7F};
inline constexpr Rgb kLightRed{0xE0, 0x7F, 0x7F};
inline constexpr Rgb kLightYellow{0xFF, 0xFF, 0x7F};
inline constexpr Rgb kOrange{0xFF, 0xA0, 0x40};

// Icon numbers of the shared icon list that the area map uses.
inline constexpr int kIconWriteProtected = 11;
inline constexpr int kIconActive = 13;
inline constexpr int kIconErased = 14;
inline constexpr int kIconError = 15;
inline constexpr int kIconDone = 16;
inline constexpr int kIconSkipped = 17;
inline constexpr int kIconWorking = 18;

inline constexpr std::size_t kStatusTextLimit = 32;
inline constexpr std::uint32_t kProgressFull = 0x2FFFFF; // 32 steps of eleven 2-bit cells

enum class AreaPreset { DataAreas, ChannelListAreas, FirmwareAreas };

// The window's side of the flash area table: what the map shows for each area, the mode
// commands, the hardware-type presets and the reaction to the Guard's area events. The modes
// and job marks live in the shared link::AreaTable; everything else here belongs to the
// window's thread alone.
class AreaModel {
public:
    explicit AreaModel(link::AreaTable& table);

    struct AreaView {
        std::uint32_t progress = 0;     // AreaProgress
        std::int32_t drawnProgress = 0; // AreaDrawnProgress; -1 forces a full redraw
        std::string statusText;         // AreaStatusText
        int statusIcon = 0;             // AreaStatusIcon; 0 or less: none
        Rgb statusColour = kLightGrey;  // AreaStatusColour
        bool active = false;            // the work-area cell shows the active marker
    };

    [[nodiscard]] const AreaView& area(std::size_t index) const { return m_areas.at(index); }
    [[nodiscard]] link::AreaTable& table() { return m_table; }
    [[nodiscard]] const link::AreaTable& table() const { return m_table; }
    [[nodiscard]] int shownAreaCount() const { return m_shownAreaCount; }
    [[nodiscard]] int hardwareType() const { return m_hardwareType; }

    /// Called with the area number whenever a row needs redrawing.
    void setRowChanged(std::function<void(std::size_t)> rowChanged) {
        m_rowChanged = std::move(rowChanged);
    }

    /// Progress, icons, colours and texts back to their start; the area icon bits cleared.
    void resetAreaStatus();
    /// Sets the mode of all twenty entries.
    void setAll(std::uint32_t mode);
    /// No area in use is in PGM mode: a firmware read, which saves the first run of PGM
    /// areas, would save nothing.
    [[nodiscard]] bool readSavesNothing() const;
    /// Applies a Flash-menu selection preset for the hardware type in force.
    void applyPreset(AreaPreset preset);
    /// After "SETHARDWARE" with `type` was submitted: `accepted` is whether the Guard took it.
    /// Returns the type whose radio item is checked afterwards.
    int selectHardwareType(int type, bool accepted);
    /// Submits "SETHARDWARE" with `type` through `submit` (a Guard's Submit: the slot taken, or
    /// -1 when refused), then selectHardwareType with the answer.
    int submitHardwareType(int type, const std::function<int(const link::GuardRecord&)>& submit);

    /// A Guard area event for the area the Guard names in CurrentArea.
    void applyAreaEvent(link::AreaEvent event, std::size_t area);
    /// Guard messages that mark areas (codes 5, 16, 17); others are ignored.
    void applyMessage(const link::GuardRecord& message, std::size_t currentArea);
    /// Stores a status (text cut to 32 characters) and redraws the row.
    void setStatus(std::size_t area, std::string text, int icon, Rgb colour = kLightGrey);

    /// The map drew the indicator of `area` as `progress`; the next redraw starts from it.
    void setDrawnProgress(std::size_t area, std::uint32_t progress) {
        m_areas.at(area).drawnProgress = static_cast<std::int32_t>(progress);
    }

    /// One progress step: fills the lowest 2-bit cell that is not yet full.
    [[nodiscard]] static std::uint32_t progressStep(std::uint32_t progress);

private:
    void changed(std::size_t area);
    void setIcon(std::size_t area, std::uint32_t icon);

    link::AreaTable& m_table;
    std::array<AreaView, link::kAreaSlots> m_areas{};
    int m_shownAreaCount = 19;
    int m_hardwareType = 0;
    std::function<void(std::size_t)> m_rowChanged;
};

} // namespace corvex::mainwin
