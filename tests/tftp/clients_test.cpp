// Real TFTP clients fetch the image from our listener byte for byte: on
// loopback on a port other than 69, and on port 69 in a private network.
#include "resources/resource_ids.h"
#include "src/control/image_store.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/listener.h"
#include "tests/tftp/tftp_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char kName[] = "/qor1a2b.bi0";

using ClientCommand = std::function<std::vector<std::string>(uint16_t port, const std::string& outPath)>;

std::string Sha256Of(const std::string& path) {
    std::string hashFile = path + ".sha256";
    pid_t hasher = StartProgram({"sh", "-c", "sha256sum < '" + path + "' > '" + hashFile + "'"});
    WaitForProgram(hasher, 20);
    return ReadFile(hashFile).substr(0, 64);
}

// In a child: the listener on 127.0.0.1, then the client with the port it
// found. With `holdPort69`, port 69 is taken first, so the listener moves on.
ChildOutcome FetchWithClient(bool privateNetwork, bool holdPort69, const ClientCommand& command, int clientSeconds) {
    return RunInChild(privateNetwork, 90, [&](Report& report) {
        upgradeState.instance = GetModuleHandleA(nullptr);
        LoadFirmwareImages();
        upgradeState.stage.store(Target);
        SetFileName(kName);
        UdpPeer holder(holdPort69 ? 69 : 0);
        uint16_t port = StartTftpListener(kLoopback);
        report.Set("port", port);

        std::string directory = TempDirectory();
        std::string outPath = directory + "/fetched";
        std::string imagePath = directory + "/image";
        const FirmwareImage& image = upgradeState.targetImage;
        WriteFile(imagePath, image.bytes, image.size);
        pid_t client = StartProgram(command(port, outPath), directory + "/client.log");
        report.Set("client", WaitForProgram(client, clientSeconds));
        std::string fetched = ReadFile(outPath);
        report.Set("size", static_cast<long long>(fetched.size()));
        report.Set("same", fetched == std::string(image.bytes, image.bytes + image.size) ? "yes" : "no");
        report.Set("imageSha", Sha256Of(imagePath));
        report.Set("fetchedSha", Sha256Of(outPath));
        HWND uploadDialog = nullptr;
        report.Set("session", WaitForDialog(0, IDD_UPLOAD, 100, &uploadDialog) ? "started" : "none");
        report.Set("log", ReadFile(directory + "/client.log").substr(0, 200));
    });
}

void ExpectByteForByte(const ChildOutcome& outcome) {
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values.at("exit"), "body");
    EXPECT_EQ(outcome.values.at("client"), "0") << outcome.values.at("log");
    EXPECT_EQ(outcome.values.at("size"), "737532");
    EXPECT_EQ(outcome.values.at("same"), "yes");
    EXPECT_EQ(outcome.values.at("fetchedSha"), outcome.values.at("imageSha"));
    EXPECT_EQ(outcome.values.at("imageSha").size(), 64u);
    EXPECT_EQ(outcome.values.at("session"), "started");
}

std::vector<std::string> Curl(uint16_t port, const std::string& outPath, bool options) {
    std::vector<std::string> command = {"curl", "-s", "-S", "-o", outPath};
    if (!options) {
        command.push_back("--tftp-no-options");
    }
    command.push_back("tftp://127.0.0.1:" + std::to_string(port) + "/" + kName);
    return command;
}

std::vector<std::string> Atftp(uint16_t port, const std::string& outPath, bool options) {
    std::vector<std::string> command = {"atftp", "-g", "-r", kName, "-l", outPath};
    if (options) {
        command.insert(command.end(), {"--option", "tsize 0", "--option", "timeout 6"});
    }
    command.insert(command.end(), {"127.0.0.1", std::to_string(port)});
    return command;
}

// curl asks for tsize 0, blksize 512 and timeout 6; we acknowledge tsize
// and timeout only, and curl keeps 512-byte blocks.
TEST(RealClients, CurlWithOptionsOnAnotherPort) {
    ChildOutcome outcome = FetchWithClient(
        false, true, [](uint16_t port, const std::string& out) { return Curl(port, out, true); }, 30);
    ExpectByteForByte(outcome);
    EXPECT_NE(outcome.values.at("port"), "69");
    EXPECT_GE(std::stoi(outcome.values.at("port")), 70);
}

TEST(RealClients, CurlWithoutOptionsOnPort69) {
    ChildOutcome outcome = FetchWithClient(
        true, false, [](uint16_t port, const std::string& out) { return Curl(port, out, false); }, 30);
    ExpectByteForByte(outcome);
    EXPECT_EQ(outcome.values.at("port"), "69");
}

TEST(RealClients, AtftpWithoutOptionsOnAnotherPort) {
    ChildOutcome outcome = FetchWithClient(
        false, true, [](uint16_t port, const std::string& out) { return Atftp(port, out, false); }, 30);
    ExpectByteForByte(outcome);
    EXPECT_GE(std::stoi(outcome.values.at("port")), 70);
}

TEST(RealClients, AtftpWithOptionsOnPort69) {
    ChildOutcome outcome = FetchWithClient(
        true, false, [](uint16_t port, const std::string& out) { return Atftp(port, out, true); }, 30);
    ExpectByteForByte(outcome);
    EXPECT_EQ(outcome.values.at("port"), "69");
}

// tftp-hpa's client sends no options and passes over an option
// acknowledgement, waiting for DATA 1 that never comes: it cannot fetch from
// a server that always answers with one, which is what the device expects.
TEST(RealClients, TftpHpaCannotFetchBecauseItIgnoresTheOack) {
    ChildOutcome outcome = FetchWithClient(
        true, false,
        [](uint16_t port, const std::string& out) {
            std::string commands =
                "mode octet\\nrexmt 1\\ntimeout 4\\nget " + std::string(kName) + " " + out + "\\nquit\\n";
            return std::vector<std::string>{"sh", "-c",
                                            "printf '" + commands + "' | tftp 127.0.0.1 " + std::to_string(port)};
        },
        20);
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.values.at("port"), "69");
    EXPECT_EQ(outcome.values.at("same"), "no");
    EXPECT_EQ(outcome.values.at("size"), "0");
    // The request was accepted and answered: the failure is the client's.
    EXPECT_EQ(outcome.values.at("session"), "started");
}

}  // namespace
