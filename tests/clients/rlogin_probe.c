/* Plays an rlogin client just far enough to see how the host sends the control bytes: connects,
 * sends the start-up strings and "n" (the answer to the start-up question, should the translator
 * ask it), and reports every urgent byte that arrives (seen through select's
 * exception set and read with MSG_OOB), answering 0x80 with a window-size message of 33 rows by
 * 99 columns as a client does.  Then it types "\rexit\r" and reads to the end.
 *
 *   rlogin_probe PORT       prints "urgent XX" per urgent byte, "ended" at the end
 */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: rlogin_probe PORT\n");
        return 2;
    }
    int s = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)atoi(argv[1]));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, (struct sockaddr*)&address, sizeof address) != 0) {
        perror("connect");
        return 1;
    }
    static const char startup[] = "\0probe\0probe\0vt100/9600";
    send(s, startup, sizeof startup, 0);
    /* The answer to the start-up question, should the translator ask it. */
    send(s, "n", 1, 0);
    int urgent = 0;
    int typed = 0;
    for (int rounds = 0; rounds < 300; ++rounds) {
        fd_set readable, exceptional;
        FD_ZERO(&readable);
        FD_ZERO(&exceptional);
        FD_SET(s, &readable);
        FD_SET(s, &exceptional);
        struct timeval wait = {0, 100000};
        if (select(s + 1, &readable, NULL, &exceptional, &wait) < 0) break;
        if (FD_ISSET(s, &exceptional)) {
            unsigned char byte;
            if (recv(s, &byte, 1, MSG_OOB) == 1) {
                printf("urgent %02x\n", byte);
                fflush(stdout);
                ++urgent;
                if (byte == 0x80) {
                    static const unsigned char size[] = {0xff, 0xff, 's', 's', 0, 33,
                                                         0,    99,   0,   0,   0, 0};
                    send(s, size, sizeof size, 0);
                }
            }
        }
        if (FD_ISSET(s, &readable)) {
            char buffer[4096];
            ssize_t got = recv(s, buffer, sizeof buffer, 0);
            if (got <= 0) {
                if (got < 0) perror("recv");
                printf("ended\n");
                return 0;
            }
        }
        /* Once both control bytes came and the size had time to arrive, leave. */
        if (urgent >= 2 && !typed && rounds > 40) {
            send(s, "\rexit\r", 6, 0);
            typed = 1;
        }
    }
    printf("no end\n");
    return 1;
}
