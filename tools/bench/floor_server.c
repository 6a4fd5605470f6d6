/* The floor of the Wine bench: the least a Windows TFTP server can do for one
 * block, under the same Wine as the exe. It binds, answers each read request
 * with an OACK (tsize, timeout 5), then for every block sends the DATA and
 * waits for its ACK: one sendto and one recvfrom, nothing else (no
 * retransmission, no dialog, no trace). Serves FILE over and over.
 *
 *   floor_server.exe ADDRESS PORT FILE
 */
#include <winsock2.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: floor_server.exe ADDRESS PORT FILE\n");
        return 2;
    }
    FILE* file = fopen(argv[3], "rb");
    static char image[40 << 20];
    size_t size = file ? fread(image, 1, sizeof image, file) : 0;
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in local = {0};
    local.sin_family = AF_INET;
    local.sin_port = htons((u_short)atoi(argv[2]));
    local.sin_addr.s_addr = inet_addr(argv[1]);
    if (file == NULL || bind(udp, (struct sockaddr*)&local, sizeof local) != 0) {
        fprintf(stderr, "floor_server: cannot read %s or bind %s:%s\n", argv[3], argv[1], argv[2]);
        return 1;
    }
    for (;;) {
        char packet[1024];
        struct sockaddr_in peer;
        int peerLength = sizeof peer;
        int received = recvfrom(udp, packet, sizeof packet, 0, (struct sockaddr*)&peer, &peerLength);
        if (received < 2 || packet[1] != 1) {
            continue;
        }
        int length = sprintf(packet, "%c%ctsize%c%u%ctimeout%c5", 0, 6, 0, (unsigned)size, 0, 0) + 1;
        sendto(udp, packet, length, 0, (struct sockaddr*)&peer, sizeof peer);
        recvfrom(udp, packet, sizeof packet, 0, NULL, NULL);
        for (size_t block = 1; block <= size / 512 + 1; ++block) {
            size_t start = (block - 1) * 512;
            size_t payload = size - start < 512 ? size - start : 512;
            packet[0] = 0;
            packet[1] = 3;
            packet[2] = (char)(block >> 8);
            packet[3] = (char)block;
            memcpy(packet + 4, image + start, payload);
            sendto(udp, packet, (int)payload + 4, 0, (struct sockaddr*)&peer, sizeof peer);
            recvfrom(udp, packet, sizeof packet, 0, NULL, NULL);
        }
    }
}
