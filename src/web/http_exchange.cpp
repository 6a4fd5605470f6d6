// One GET to the device's web server: a fresh connection from the chosen
// local address, the minimal request the device expects, the answer read
// until the device closes, then either a Digest challenge or the page fields.
#include "src/web/http_exchange.h"

#include "src/net/sockets.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"

#include <cstring>

namespace {

// The device's firmware wants this exact line, whatever its real address.
constexpr char kHostLine[] = "Host: 192.168.2.110\r\n";
constexpr int kPageFieldLimit = int(kTextFieldSize) - 1;

// Copies as much of `text` as fits behind `used` in a buffer of `size`
// bytes, keeps it NUL-terminated, and returns the new length.
size_t AppendText(char* buffer, size_t size, size_t used, const char* text) {
    size_t length = strlen(text);
    if (used + length > size - 1) {
        length = size - 1 - used;
    }
    memcpy(buffer + used, text, length);
    used += length;
    buffer[used] = '\0';
    return used;
}

void CopyCut(char* field, size_t size, const char* text) {
    size_t length = strnlen(text, size - 1);
    memcpy(field, text, length);
    field[length] = '\0';
}

// The request goes into the same buffer the answer will overwrite.
size_t ComposeRequest(const char* path, char* buffer, size_t size) {
    size_t used = AppendText(buffer, size, 0, "GET ");
    used = AppendText(buffer, size, used, path);
    used = AppendText(buffer, size, used, " HTTP/1.1\r\n");
    used = AppendText(buffer, size, used, kHostLine);
    if (digestState.password[0] != '\0') {
        ++digestState.nonceCount;
        CopyCut(digestState.uri, sizeof digestState.uri, path);
        used += size_t(ComposeAuthorization(&digestState, buffer + used, size - used));
    }
    return AppendText(buffer, size, used, "\r\n");
}

// Reads until the device closes the connection or `capacity` bytes are in.
uint32_t ReceiveAnswer(SOCKET connection, char* buffer, uint32_t capacity) {
    uint32_t total = 0;
    while (total < capacity) {
        int received = recv(connection, buffer + total, int(capacity - total), 0);
        if (received <= 0) {
            break;
        }
        total += uint32_t(received);
    }
    // Also when nothing came: the buffer still holds the request, which must
    // not be read as the answer.
    buffer[total] = '\0';
    return total;
}

void ExtractDeviceInfo(const char* page, DeviceInfo* info) {
    ExtractPageField(page, "Product Name:", info->productName, kPageFieldLimit);
    ExtractPageField(page, "MAC Address:", info->macAddress, kPageFieldLimit);
    ExtractPageField(page, kSoftwareVersionLabel, info->softwareVersion, kPageFieldLimit);
    ExtractPageField(page, "Hardware Version:", info->hardwareVersion, kPageFieldLimit);
    ExtractPageField(page, "Serial Number:", info->serialNumber, kPageFieldLimit);
}

}  // namespace

SOCKET OpenDeviceConnection(uint32_t localAddress, uint16_t localPortBase, uint32_t deviceAddress,
                            uint16_t devicePort) {
    SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connection == INVALID_SOCKET) {
        FailUpgrade(text::kHttpSocket);
    }
    // base, base + 1, ... base + 100: a port still held by an earlier exchange is passed over.
    if (BindFirstFree(connection, localAddress, localPortBase, kHttpLocalPortTries) == 0) {
        FailUpgrade(text::kHttpBind);
    }
    sockaddr_in device;
    MakeSockAddr(deviceAddress, devicePort, &device);
    if (connect(connection, reinterpret_cast<const sockaddr*>(&device), sizeof device) != 0) {
        closesocket(connection);
        return INVALID_SOCKET;
    }
    return connection;
}

int ExchangeWithDevice(uint32_t localAddress, uint16_t localPortBase, uint32_t deviceAddress, uint16_t devicePort,
                       const char* path, char* buffer, uint32_t capacity) {
    SOCKET connection = OpenDeviceConnection(localAddress, localPortBase, deviceAddress, devicePort);
    size_t requestLength = ComposeRequest(path, buffer, size_t(capacity) + 1);
    // The request as sent: with a password, its Authorization line carries
    // the response and the cnonce, never the password itself.
    TraceText(buffer);
    if (connection == INVALID_SOCKET) {
        Trace("connect failed\n");
        return 0;
    }
    send(connection, buffer, int(requestLength), 0);

    uint32_t total = ReceiveAnswer(connection, buffer, capacity);
    Trace("recv done\n");
    TraceText(buffer);
    if (ClassifyResponse(buffer, &digestState)) {
        closesocket(connection);
        return -1;
    }
    if (total > 0) {
        ExtractDeviceInfo(buffer, &upgradeState.deviceInfo);
    }
    closesocket(connection);
    return int(total);
}

bool ClassifyResponse(const char* text, DigestState* state) {
    if (strncmp(text, "HTTP/1.1", 8) != 0) {
        return false;
    }
    const char* status = text + 8;
    if (*status == '\0') {
        return false;
    }
    ++status;  // the separator, whatever it is
    while (*status == ' ' || *status == '\t') {
        ++status;
    }
    if (strncmp(status, "401", 3) != 0) {
        return false;
    }
    const char* challenge = strstr(status, "WWW-Authenticate:");
    return challenge != nullptr && ParseChallenge(challenge, state);
}

bool IsDevicePage(const char* answer) {
    return strstr(answer, kSoftwareVersionLabel) != nullptr;
}

void ExtractPageField(const char* text, const char* label, char* field, int limit) {
    const char* found = strstr(text, label);
    if (found == nullptr) {
        return;
    }
    const char* tagEnd = strchr(found, '>');
    if (tagEnd == nullptr) {
        return;
    }
    const char* value = tagEnd + 1;
    // Only tags that follow one another directly are skipped.
    while (*value == '<') {
        tagEnd = strchr(value, '>');
        if (tagEnd == nullptr) {
            return;
        }
        value = tagEnd + 1;
    }
    int length = 0;
    while (length < limit && value[length] != '\0' && value[length] != '<') {
        field[length] = value[length];
        ++length;
    }
    field[length] = '\0';
}
