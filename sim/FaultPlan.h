#pragma once
// Faults the simulated unit and its link inject, so that tests and tools can
// watch the transport meet them.
//
// A plan is written as a text of comma-separated items (blanks around items
// are ignored; an empty text is no fault):
//
//   drop-in=N          input report N is lost on the way to the PC
//   drop-out=N         output report N is accepted but never reaches the unit
//   dup-in=N           input report N arrives twice
//   dup-out=N          output report N reaches the unit twice
//   corrupt-in=N[:B]   byte B (default 9) of input report N is inverted
//   corrupt-out=N[:B]  byte B (default 9) of output report N is inverted
//   delay-in=N:MS      input report N leaves MS ms late; later ones queue behind it
//   delay-out=N:MS     the unit accepts output report N only after MS ms (the
//                      write fails when that is longer than the write's time-out)
//   hold-in=N:MS       the PC's reader is held up for MS ms just before it takes
//                      input report N (a busy PC); the reports that arrive
//                      meanwhile wait in the handle's queue
//   intrude=N[:C]      another program on the PC talks to the unit: right after
//                      output report N the unit runs a request with code C
//                      (default 0x4000) once more, the last one of that code
//                      it received (or one without payload), and its reply
//                      reaches every open handle, as hidraw gives each reader
//                      every report
//   status=C:S[@K]     requests with command code C are answered with the
//                      failure status byte S instead of being run; with @K
//                      only the K-th such request (1-based)
//   corrupt-flash=K[:B] the K-th block the bootloader programs gets its byte B
//                      (default 0) inverted in flash; its status still says success
//   mute-after=N       once N reports have crossed the link (both directions
//                      counted), the unit sends nothing more; writes still succeed
//   unplug-after=N     the unit leaves the bus when the N-th report has crossed
//                      the link (both directions counted), until it is plugged again
//
// Report numbers N count from 1, separately for input and output reports, from
// the moment the plan is set. Numbers may be decimal or 0x-prefixed hex. Items
// may repeat (drop-in=3,drop-in=8).
//
// The tools read a plan from the environment variable TESSALY_SIM_FAULTS, e.g.
//   TESSALY_SIM_FAULTS="drop-in=5,status=0x4012:0x05,unplug-after=40"
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr const char* FaultPlanVariable = "TESSALY_SIM_FAULTS";
// Default byte a corrupt item inverts: the first payload byte of a message's
// first report, so a one-report request fails its checksum.
constexpr uint32_t DefaultCorruptByte = 9;
// Another program's request, unless an intrude item names one: the device information.
constexpr uint32_t DefaultIntruderCode = 0x4000;

enum class FaultKind { Drop, Duplicate, Corrupt, Delay, Hold, Intrude };
enum class FaultDirection { In, Out };

struct ReportFault {
    FaultKind Kind = FaultKind::Drop;
    FaultDirection Direction = FaultDirection::In;
    uint64_t Report = 0;   // 1-based report number in its direction
    uint32_t Value = 0;    // byte index (Corrupt), milliseconds (Delay, Hold) or command code (Intrude)
};

struct StatusFault {
    uint16_t Code = 0;
    uint8_t Status = 0;
    uint64_t Occurrence = 0; // 0: every request with the code
};

struct FlashFault {
    uint64_t Block = 0; // 1-based count of programmed blocks
    uint32_t Byte = 0;  // index in the block
};

struct FaultPlan {
    std::vector<ReportFault> Reports;
    std::vector<StatusFault> Statuses;
    std::vector<FlashFault> Flash;
    uint64_t MuteAfter = 0;   // 0: never
    uint64_t UnplugAfter = 0; // 0: never

    bool Empty() const
    {
        return Reports.empty() && Statuses.empty() && Flash.empty() && MuteAfter == 0 && UnplugAfter == 0;
    }

    // Parses the text form above. On failure returns none and, when `error`
    // is given, says which item is wrong.
    static std::optional<FaultPlan> Parse(const std::string& text, std::string* error = nullptr);
    // The plan in TESSALY_SIM_FAULTS; an empty plan when the variable is unset.
    static std::optional<FaultPlan> FromEnvironment(std::string* error = nullptr);
};

} // namespace sim
