#include "fake_sys_calls.h"
#include "link/port/direct_port.h"
#include "link/port/port.h"
#include "link/port/port_backends.h"
#include "link/port/port_trace.h"
#include "link/port/ppdev_port.h"
#include "link/protocol/link.h"
#include "sim/receiver_bus.h"
#include "sim/virtual_port.h"
#include "tests/sim/sim_rig.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>

namespace corvex {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint16_t kBase = 0x378;
constexpr std::uint16_t kOtherBase = 0x278;
constexpr std::uint16_t kControl = kBase + link::kControlOffset;
constexpr std::uint64_t kRawIo = std::uint64_t{1} << test::FakeSysCalls::kRawIo;

// A backend over the fake machine, wired to a simulated Rev B adapter at 0x378 the way it would
// reach a real port's registers. A named ppdev device on a machine without procfs serves every
// base. The simulator's own port is checked in the simulator's tests.
struct Rig {
    explicit Rig(const std::string& kind) {
        if (kind == "Ppdev") {
            sys.addParport(0, kBase).addParport(1, kOtherBase);
            backend = link::PpdevPort::openForBase(sys, kBase);
        } else if (kind == "NamedPpdev") {
            sys.addParport(0, kBase).removeParportSupport();
            backend = link::openPortBackend("ppdev:/dev/parport0", sys, kOtherBase).io;
        } else {
            backend = std::make_unique<link::DirectPort>(sys, kBase);
        }
    }
    link::PortIo& io() { return *backend; }
    sim::RegisterFile bus;
    sim::VirtualPort adapter{bus};
    test::FakeSysCalls sys{&adapter};
    std::unique_ptr<link::PortIo> backend;
};

// The same facts about the port, whichever backend carries the register traffic.
class PortBackendContract : public ::testing::TestWithParam<std::string> {
protected:
    PortBackendContract()
        : m_rig(std::make_unique<Rig>(GetParam())), port(m_rig->io(), kBase), link(port, flags) {
        link.setSleeper([](std::chrono::milliseconds) {});
    }
    void TearDown() override {
        EXPECT_FALSE(m_watchdog.fired())
            << "a handshake wait never ended: the adapter's answers were lost on the way";
        EXPECT_THAT(m_rig->adapter.anomalies(), IsEmpty());
    }
    std::unique_ptr<Rig> m_rig;
    link::Port port;
    link::LinkFlags flags;
    link::Link link;
    // Waits spin until an answer comes: a backend that loses the answers fails, not hangs.
    sim::test::Watchdog m_watchdog{flags};
};

TEST_P(PortBackendContract, SetupClearsTheLineBitsAndReleasesTheDataLines) {
    // Every line bit set and the data lines released, so a setup that keeps any of them shows.
    m_rig->io().out(kControl, 0x2F);
    const std::uint8_t old = m_rig->io().in(kControl);
    port.setup();
    // Read and TxAck low through the port's inversion, Write low, reset released.
    const auto expected = static_cast<std::uint8_t>((old & 0xF0) | 0x20 | 0x03);
    EXPECT_EQ(m_rig->io().in(kControl), expected) << "control register as the backend reads it";
    EXPECT_EQ(m_rig->adapter.controlRegister(), expected) << "control register at the port";
    EXPECT_FALSE(m_rig->adapter.resetAsserted());
    EXPECT_EQ(m_rig->io().in(kBase + link::kExtendedControlOffset), 0x35);
}

TEST_P(PortBackendContract, DetectsTheRevBAdapterOnlyAtItsBase) {
    for (const std::uint16_t base : {kOtherBase, kBase}) {
        if (base != kBase && GetParam() == "NamedPpdev") {
            continue; // the named device serves every base: the adapter answers there too
        }
        port.setBase(base);
        port.setup();
        EXPECT_EQ(link.detectInterface(),
                  base == kBase ? link::InterfaceType::RevB : link::InterfaceType::Absent);
    }
    EXPECT_FALSE(m_rig->adapter.loopbackOn()) << "detection must leave loopback switched off";
}

TEST_P(PortBackendContract, WordTransactionsReachTheReceiverBus) {
    port.setup();
    link.resetPulse();
    link.writeWord(0x7FE01554, 0x005500AA);
    m_rig->bus.poke(0x20002004, 0x41852825);
    EXPECT_THAT(m_rig->bus.writes(), ElementsAre(std::pair{0x7FE01554U, 0x005500AAU}));
    EXPECT_EQ(link.readWord(0x7FE01554), 0x005500AAU);
    EXPECT_EQ(link.readWord(0x20002004), 0x41852825U);
}

INSTANTIATE_TEST_SUITE_P(Backends, PortBackendContract,
                         ::testing::Values("Ppdev", "NamedPpdev", "Direct"),
                         [](const auto& info) { return info.param; });

// --- ppdev ---

TEST(PpdevDeviceChoice, OpensTheMatchingDeviceAndAnotherOnlyWhenTheBaseMovesThere) {
    test::FakeSysCalls sys;
    sys.addParport(0, 0x3BC).addParport(1, kOtherBase).addParport(2, kBase);
    const auto port = link::PpdevPort::openForBase(sys, kBase);
    EXPECT_EQ(port->devicePath(), "/dev/parport2");
    EXPECT_THAT(sys.logOf("open"), ElementsAre("open /dev/parport2"))
        << "the other ports belong to others until the port layer moves to them";
    sys.clearLog();
    (void)port->in(kOtherBase + link::kStatusOffset);
    (void)port->in(kBase + link::kStatusOffset);
    EXPECT_THAT(sys.log(), ElementsAre("open /dev/parport1", "PPCLAIM /dev/parport1",
                                       "PPRSTATUS /dev/parport1", "PPRSTATUS /dev/parport2"));
}

// A base without a device, or with one another program holds, is left alone.
TEST(PpdevDeviceChoice, ABaseWithoutAFreeDeviceReadsAsAnEmptyPort) {
    for (const bool held : {false, true}) {
        test::FakeSysCalls sys;
        sys.addParport(0, kBase);
        if (held) {
            sys.addParport(1, kOtherBase).holdPort(1, "ppdev3");
        }
        const auto port = link::PpdevPort::openForBase(sys, kBase);
        sys.clearLog();
        EXPECT_EQ(port->in(kOtherBase + link::kStatusOffset), 0xFF);
        port->out(kOtherBase + link::kControlOffset, 0x23);
        EXPECT_EQ(port->in(0x2F8), 0xFF) << "not a parallel-port register at all";
        EXPECT_THAT(sys.logOf("PP"), IsEmpty()) << "held " << held;
        EXPECT_EQ(sys.openDescriptors(), 1);
    }
}

// --- direct ---

// Outside the grant a port instruction would kill the process.
TEST(DirectPortAccess, TouchesNoRegisterOutsideTheGrant) {
    test::FakeSysCalls sys;
    link::DirectPort port(sys, kBase);
    sys.clearLog();
    EXPECT_EQ(port.in(0x2F8), 0xFF);
    EXPECT_EQ(port.in(kBase + 3), 0xFF);
    port.out(0x37F, 0x00);
    EXPECT_THAT(sys.log(), IsEmpty());
}

TEST(DirectPortAccess, FallsBackToIoplWhenIopermRejectsTheRange) {
    test::FakeSysCalls sys;
    sys.setIopermError(EINVAL);
    link::DirectPort port(sys, kBase);
    EXPECT_THAT(sys.logOf("iopl"), ElementsAre("iopl 3"));
    EXPECT_GT(sys.firstIndexOf("capset"), sys.firstIndexOf("iopl"));
    (void)port.in(kBase + link::kStatusOffset);
    EXPECT_THAT(sys.logOf("inb"), ElementsAre("inb 0x379"));
}

// Once the grants are made, every user gives up raw I/O: setuid root returns to the real user
// before any port access, root keeps its uid, a user with the file capability loses it; a drop
// that fails gives the access back.
TEST(DirectPortPrivileges, EveryUserGivesUpRawIoOnceThePortsAreGranted) {
    test::FakeSysCalls setuid;
    setuid.setIdentity(1000, 0);
    link::DirectPort port(setuid, kBase);
    port.out(kBase, 0x55);
    EXPECT_THAT(setuid.logOf("setresuid"), ElementsAre("setresuid 1000 1000 1000"));
    const long drop = setuid.firstIndexOf("setresuid");
    EXPECT_GT(drop, setuid.firstIndexOf("ioperm 0x7be"));
    EXPECT_GT(setuid.firstIndexOf("outb"), drop);
    EXPECT_EQ(setuid.effectiveUid(), 1000U);
    EXPECT_EQ(setuid.capabilities().permitted & kRawIo, 0U);

    test::FakeSysCalls root;
    const link::DirectPort rootPort(root, kBase);
    EXPECT_THAT(root.logOf("setresuid"), IsEmpty());
    EXPECT_EQ(root.capabilities().effective & kRawIo, 0U);
    EXPECT_EQ(root.capabilities().permitted & kRawIo, 0U);
    EXPECT_NE(root.capabilities().permitted & 1U, 0U) << "only CAP_SYS_RAWIO is given up";
    EXPECT_EQ(root.ioperm(0x2F8, 8, 1), -EPERM) << "no further port can be opened";
    EXPECT_TRUE(root.portAllowed(kBase + link::kStatusOffset)) << "the granted access stays";

    test::FakeSysCalls user;
    user.setIdentity(1000, 1000).setCapabilities({kRawIo, kRawIo, 0});
    const link::DirectPort userPort(user, kBase);
    EXPECT_THAT(user.logOf("capset"), ElementsAre("capset e=0x0 p=0x0"));
    EXPECT_GT(user.firstIndexOf("capset"), user.firstIndexOf("ioperm 0x7be"));

    test::FakeSysCalls failing;
    failing.setIdentity(1000, 0).setSetresuidError(EAGAIN);
    EXPECT_THROW(link::DirectPort(failing, kBase), link::PortOpenError);
    EXPECT_FALSE(failing.portAllowed(kBase));
    EXPECT_FALSE(failing.portAllowed(kOtherBase + link::kExtendedControlOffset));
}

// --- the --port chooser ---

TEST(PortBackendChooser, AccessibleRealPortIsNeverDirect) {
    // Root on a machine without parallel-port support: port instructions would be granted,
    // and the missing port would read like a present one with its lines floating.
    test::FakeSysCalls sys;
    sys.removeParportSupport();
    EXPECT_FALSE(link::openAccessibleRealPort(sys, kBase).has_value());
    test::FakeSysCalls denied;
    denied.addParport(0, kBase);
    denied.setOpenError("/dev/parport0", EACCES);
    EXPECT_FALSE(link::openAccessibleRealPort(denied, kBase).has_value());
    EXPECT_THAT(sys.logOf("ioperm"), IsEmpty());
    EXPECT_THAT(denied.logOf("ioperm"), IsEmpty());
}

// --- open errors ---

TEST(PortOpenErrors, SayWhyInOneLineAndLeaveNothingOpenOrGranted) {
    using Sys = test::FakeSysCalls;
    const struct {
        const char* choice;
        std::function<void(Sys&)> arrange;
        const char* message;
    } cases[] = {
        {"ppdev", [](Sys& s) { s.addParport(0, kOtherBase); },
         "ppdev at 0x378: no such port (ports found at 0x278)"},
        {"ppdev:/dev/parport7", [](Sys&) {}, "ppdev /dev/parport7: no such port"},
        {"ppdev", [](Sys& s) { s.addParport(0, kBase).setClaimError("/dev/parport0", ENXIO); },
         "ppdev /dev/parport0 (0x378): no such port"},
        {"ppdev", [](Sys& s) { s.addParport(0, kBase).setOpenError("/dev/parport0", EACCES); },
         "ppdev /dev/parport0 (0x378): permission denied: add the user to group lp"},
        {"ppdev", [](Sys& s) { s.removeParportSupport(); },
         "ppdev at 0x378: not supported on this machine (no /proc/sys/dev/parport)"},
        {"ppdev:/dev/null", [](Sys& s) { s.setClaimError("/dev/null", ENOTTY); },
         "ppdev /dev/null: not supported on this machine"},
        {"ppdev", [](Sys& s) { s.addParport(0, kBase).holdPort(0, "ppdev0"); },
         "ppdev /dev/parport0 (0x378): busy: the port is held by ppdev0 (another program)"},
        {"ppdev:/dev/parport0", [](Sys& s) { s.addParport(0, kBase).holdPort(0, "lp0"); },
         "ppdev /dev/parport0: busy: the port is held by lp0"},
        {"ppdev", [](Sys& s) { s.addParport(0, kBase, "PCSPP"); },
         "ppdev /dev/parport0 (0x378): the port cannot release its data lines (modes PCSPP): set "
         "it to bidirectional, EPP or ECP in the firmware setup"},
        {"direct",
         [](Sys& s) { s.addParport(0, kOtherBase).addParport(1, kBase).holdPort(1, "ppdev0"); },
         "direct I/O at 0x378: busy: the kernel's parport1 is held by ppdev0 (another program)"},
        {"direct", [](Sys& s) { s.setPortInstructions(false); },
         "direct I/O at 0x378: not supported on this machine"},
        {"lpt1", [](Sys&) {}, "unknown port 'lpt1': use sim, ppdev[:DEVICE] or direct"},
        {"ppdev:", [](Sys&) {}, "unknown port 'ppdev:': use sim, ppdev[:DEVICE] or direct"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Sys sys;
        c.arrange(sys);
        try {
            (void)link::openPortBackend(c.choice, sys, kBase);
            ADD_FAILURE() << "opened";
        } catch (const link::PortOpenError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
        EXPECT_EQ(sys.openDescriptors(), 0);
        EXPECT_THAT(sys.logOf("ioperm"), IsEmpty());
        EXPECT_THAT(sys.logOf("PPCLAIM"), IsEmpty());
    }
}

// --- the trace ---

TEST(PortTrace, RecordsEachRequestWithWhatCameBack) {
    test::FakeSysCalls fake; // an empty port: its lines float high
    fake.addParport(0, kBase);
    std::ostringstream out;
    {
        link::PortTrace trace(out);
        link::TracingSysCalls sys(fake, trace);
        const auto port = link::PpdevPort::openForBase(sys, kBase);
        link::TracingPortIo io(*port, trace);
        (void)io.in(kBase + link::kStatusOffset);
        io.out(kBase + link::kControlOffset, 0x2F);
        EXPECT_EQ(sys.open("/dev/parport5", O_RDWR | O_NONBLOCK), -ENOENT);
    }
    // The lines tools/port-vm reads back: requests with their results, and register accesses.
    const std::string text = out.str();
    for (const char* line :
         {"sys ioctl 3 PPCLAIM = 0\n", "port in 0x379 -> 0xff\n", "port out 0x37a 0x2f\n",
          "sys ioctl 3 PPWCONTROL 0x0f = 0\n", "= -1 ENOENT\n", "sys close 3 = 0\n"}) {
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    }
}

TEST(PortTrace, WritesARunOfEqualLinesOnceWithItsCount) {
    std::ostringstream out;
    {
        link::PortTrace trace(out);
        for (const char* line : {"a", "b", "b", "b", "a", "c", "c"}) {
            trace.line(line);
        }
    }
    EXPECT_EQ(out.str(), "a\nb\n  (2 more times)\na\nc\n  (1 more times)\n");
}

} // namespace
} // namespace corvex
