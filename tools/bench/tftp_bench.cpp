// Benchmark, not a test: the 737,532-byte Target image served to curl and
// atftp over loopback by our transfer session and by tftpd-hpa, several runs
// each; then the listener's CPU time while it waits, and the peak memory.
//
//   tftp_bench [runs]      (default 7; needs root, in.tftpd, curl and atftp)
//
// It runs in a network namespace of its own, so that no other traffic or port
// on loopback meets it. For the figures of one CPU, start it under
// `taskset -c 0`: the clients and tftpd-hpa inherit the CPU.
#include "src/control/image_store.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/listener.h"
#include "src/tftp/session.h"
#include "tests/support/processes.h"
#include "tests/support/sockets.h"

#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kName[] = "/qorbench.bi0";

std::vector<std::string> ClientCommand(const std::string& client, uint16_t port, const std::string& out) {
    if (client == "curl") {
        return {"curl", "-s", "-o", out, "tftp://127.0.0.1:" + std::to_string(port) + "/" + kName};
    }
    return {"atftp", "-g", "-r", kName, "-l", out, "127.0.0.1", std::to_string(port)};
}

bool SameAsImage(const std::string& path, const FirmwareImage& image) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes == std::string(image.bytes, image.bytes + image.size);
}

// One fetch from our session: the client's read request on our socket, then
// the transfer as the listener would run it. Seconds from the client's start
// to its end, negative when the file came out wrong.
double FetchFromSession(const std::string& client, const std::string& out) {
    SOCKET udpSocket = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address;
    MakeSockAddr(kLoopback, 0, &address);
    bind(udpSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    SockLen length = sizeof address;
    getsockname(udpSocket, reinterpret_cast<sockaddr*>(&address), &length);
    uint16_t port = ntohs(address.sin_port);

    double start = SecondsNow();
    pid_t pid = StartProgram(ClientCommand(client, port, out));
    pollfd ready = {udpSocket, POLLIN, 0};
    poll(&ready, 1, 5000);
    uint8_t request[kTftpPacketSize];
    sockaddr_in sender;
    ReceiveDatagram(udpSocket, request, static_cast<int>(sizeof request), &sender);
    auto* session = static_cast<TftpSession*>(std::calloc(1, sizeof(TftpSession)));
    session->udpSocket = udpSocket;
    session->localAddress = kLoopback;
    session->localPort = port;
    SplitSockAddr(sender, &session->peerAddress, &session->peerPort);
    PrepareTransfer(session, upgradeState.targetImage.size);
    TransferImage(session, upgradeState.targetImage.bytes);
    int status = WaitForProgramEnd(pid);
    double seconds = SecondsNow() - start;
    DestroyWindow(session->uploadDialog);
    std::free(session);
    closesocket(udpSocket);
    return status == 0 && SameAsImage(out, upgradeState.targetImage) ? seconds : -1;
}

double FetchFromTftpd(const std::string& client, uint16_t port, const std::string& out) {
    double start = SecondsNow();
    int status = WaitForProgramEnd(StartProgram(ClientCommand(client, port, out)));
    double seconds = SecondsNow() - start;
    return status == 0 && SameAsImage(out, upgradeState.targetImage) ? seconds : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool AllGood(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double value) { return value >= 0; });
}

double CpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The listener waiting for a request that never comes, while this thread sleeps.
double ListenerIdleCpuShare(double seconds) {
    SetFileName("/never.bi0");
    StartTftpListener(kLoopback);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    double cpuBefore = CpuSeconds();
    double before = SecondsNow();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return (CpuSeconds() - cpuBefore) / (SecondsNow() - before);
}

// A network of the process's own with loopback up. tftpd-hpa resolves its
// address only where the host has an IPv4 address besides 127.0.0.1 (the C
// library's address-configuration check passes over that one), so loopback
// gets a second one; the traffic stays on 127.0.0.1.
bool EnterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("tftp_bench: unshare (run it as root)");
        return false;
    }
    return WaitForProgram(StartProgram({"ip", "link", "set", "lo", "up"}), 10) == 0 &&
           WaitForProgram(StartProgram({"ip", "address", "add", "127.0.0.2/8", "dev", "lo"}), 10) == 0;
}

bool StillRunning(pid_t pid) {
    return waitpid(pid, nullptr, WNOHANG) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    if (!EnterPrivateNetwork()) {
        std::fprintf(stderr, "tftp_bench: no private network with loopback\n");
        return 2;
    }
    upgradeState.instance = GetModuleHandleA(nullptr);
    LoadFirmwareImages();
    upgradeState.stage.store(Target);
    std::snprintf(upgradeState.deviceAddressText, sizeof upgradeState.deviceAddressText, "127.0.0.1");

    char directoryPattern[] = "/tmp/qor-bench.XXXXXX";
    std::string directory = mkdtemp(directoryPattern);
    chmod(directory.c_str(), 0755);
    std::string served = directory + kName;
    std::ofstream(served, std::ios::binary)
        .write(reinterpret_cast<const char*>(upgradeState.targetImage.bytes), upgradeState.targetImage.size);
    chmod(served.c_str(), 0644);
    uint16_t tftpdPort = 47000 + static_cast<uint16_t>(getpid() % 1000);
    pid_t tftpd = StartProgram(
        {"in.tftpd", "-L", "-u", "nobody", "-s", directory, "-a", "127.0.0.1:" + std::to_string(tftpdPort)});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    if (!StillRunning(tftpd)) {
        std::fprintf(stderr, "tftp_bench: in.tftpd ended at once\n");
        return 2;
    }

    std::printf("Target image %u bytes, %d runs per case, loopback\n", upgradeState.targetImage.size, runs);
    bool goalsMet = true;
    for (const std::string client : {"curl", "atftp"}) {
        std::vector<double> ours;
        std::vector<double> theirs;
        std::string out = directory + "/fetched-" + client;
        for (int run = 0; run < runs; ++run) {
            ours.push_back(FetchFromSession(client, out));
            theirs.push_back(FetchFromTftpd(client, tftpdPort, out));
        }
        if (!AllGood(ours) || !AllGood(theirs)) {
            std::printf("%-6s a fetch failed or came out wrong\n", client.c_str());
            goalsMet = false;
            continue;
        }
        double ratio = Median(ours) / Median(theirs);
        std::printf("%-6s session median %.3f s, tftpd-hpa median %.3f s, ratio %.2f (goal <= 1.0)\n", client.c_str(),
                    Median(ours), Median(theirs), ratio);
        goalsMet = goalsMet && ratio <= 1.0;
    }
    StopProgram(tftpd);

    double idleShare = ListenerIdleCpuShare(5.0);
    std::printf("listener idle CPU %.2f%% of one core (goal <= 1%%)\n", idleShare * 100);
    goalsMet = goalsMet && idleShare <= 0.01;
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory %ld KiB\n", usage.ru_maxrss);
    std::printf("%s\n", goalsMet ? "goals met" : "goals NOT met");
    std::fflush(stdout);
    _exit(0);
}
