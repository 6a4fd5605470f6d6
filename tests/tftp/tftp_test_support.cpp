// Helpers of the TFTP tests: the packets a device sends and where they come from.
#include "tests/tftp/tftp_test_support.h"

#include "platform/linux/headless.h"
#include "resources/resource_ids.h"
#include "src/net/sockets.h"
#include "src/shared/upgrade_state.h"
#include "src/ui/dialogs.h"
#include "src/web/request_runner.h"
#include "src/tftp/packets.h"

#include <cstdio>

std::vector<uint8_t> AckPacket(uint32_t block) {
    std::vector<uint8_t> packet(4);
    PutU16BE(packet.data(), kTftpAck);
    PutU16BE(packet.data() + 2, block);
    return packet;
}

std::vector<uint8_t> RequestPacket(uint16_t opcode, const std::string& name) {
    std::vector<uint8_t> packet(2);
    PutU16BE(packet.data(), opcode);
    packet.insert(packet.end(), name.begin(), name.end());
    const char mode[] = "\0octet";
    packet.insert(packet.end(), mode, mode + sizeof mode);
    return packet;
}

sockaddr_in From(uint32_t address, uint16_t port) {
    sockaddr_in sender;
    MakeSockAddr(address, port, &sender);
    return sender;
}

namespace {

FakeCompletion& World(void* context) {
    return *static_cast<FakeCompletion*>(context);
}

DWORD FakeNow(void* context) {
    return World(context).clock;
}

void FakePause(void* context, DWORD milliseconds) {
    FakeCompletion& world = World(context);
    if (world.pauses++ == world.cancelAtPause) {
        headless::PressButton(world.upload, IDCANCEL);
    }
    world.clock += milliseconds;
}

void FakePump(void*, HWND dialog) {
    PumpPendingMessages(dialog);
}

// The page a device serves once it is up: the version label and value in
// its table markup.
int ServeScriptedPage() {
    int length = std::snprintf(upgradeState.httpBuffer, kHttpBufferSize,
                               "HTTP/1.1 200 OK\r\n\r\n<tr><td>Software Version:</td><td>%s</td></tr>",
                               HeaderVersion(StageImage()));
    std::snprintf(upgradeState.deviceInfo.softwareVersion, kTextFieldSize, "%s", HeaderVersion(StageImage()));
    return length;
}

int ServeBootingPage() {
    return std::snprintf(upgradeState.httpBuffer, kHttpBufferSize,
                         "HTTP/1.1 503 Service Unavailable\r\n\r\n<html>starting, please wait</html>");
}

int FakeRequestPage(void* context, const TftpSession& session) {
    FakeCompletion& world = World(context);
    int attempt = static_cast<int>(world.attemptTimes.size());
    world.attemptTimes.push_back(world.clock);
    bool shown = world.upload != nullptr && headless::IsShown(world.upload);
    headless::Progress bar = headless::ProgressOf(world.upload, IDC_PROGRESS);
    world.barAtAttempt.push_back(shown ? bar.position : -1);
    world.rangeAtAttempt.push_back(shown ? bar.maximum : -1);
    world.clock += world.attemptMs;
    if (world.throughRunner) {
        return RequestDevicePage(session.localAddress, session.peerAddress, kDevicePage);
    }
    bool up = world.pageAtAttempt >= 0 && attempt >= world.pageAtAttempt;
    return up ? ServeScriptedPage() : ServeBootingPage();
}

}  // namespace

CompletionOps FakeCompletion::Ops() {
    return {this, FakeNow, FakePause, FakePump, FakeRequestPage};
}
