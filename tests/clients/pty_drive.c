/* Drives a terminal program (a telnet or rlogin client) through a pseudo-terminal the way a user
 * at a terminal would, and renders everything it prints with libvterm, so that the checks are
 * on what the user sees.
 *
 *   pty_drive [--size ROWSxCOLUMNS] [--limit MS] [--raw FILE] [--utf8 1] [--scrollback FILE]
 *             STEP... -- PROGRAM [ARG...]
 *
 * --scrollback FILE writes each row that scrolls off the top of the terminal's screen into its
 * scrollback to FILE as it goes, as the screen steps write rows; the file is up to date at each
 * screen and run step, so that a run step can copy what goes with the screen (the client's own
 * last lines, "Connection closed..." say, scroll more rows off).
 *
 * With --utf8 1 the terminal is a UTF-8 one (the program runs in the C.UTF-8 locale) and the
 * screen text holds its characters in UTF-8; otherwise a character beyond ASCII shows as '?'.
 *
 * Steps, each one argument:
 *   send:TEXT        type TEXT (escapes \r \n \t \e \\ \xNN)
 *   paste:TEXT       paste TEXT, between the bracketed paste markers when the program asked
 *                    for them
 *   expect:TEXT      wait until the rendered screen shows TEXT (rows joined by newlines)
 *   expect-no:TEXT   fail if the screen shows TEXT now
 *   stream:TEXT      wait until the bytes printed since the last stream match hold TEXT
 *   quiet:MS         wait until the program has printed nothing for MS
 *   mouse:N          wait until the mouse reports the program asked the terminal for are N
 *                    (libvterm's VTERM_PROP_MOUSE: 0 none, 1 clicks, 2 drags, 3 all motion)
 *   click:ROW,COL    move the mouse to the cell (from 0) and click the left button there, the
 *                    terminal reporting it as the program asked
 *   resize:RxC       set the terminal to R rows and C columns (the program gets SIGWINCH)
 *   screen:FILE      write the screen (rows with trailing blanks cut) to FILE
 *   wait:MS          pause
 *   run:COMMAND      run a shell command (to look at the other side, say); fail unless it
 *                    exits with status 0
 *   kill             end the program with SIGKILL, as a client that simply goes away
 *   exit             wait until the program has ended and closed the terminal
 * Every wait ends with a failure after --limit MS (default 20000).  On a failure the screen is
 * printed and the program ended.  Exit status 0 when every step held.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vterm.h>

static VTerm* terminal;
static VTermScreen* screen;
static int master = -1;
static pid_t child;
static int rows = 24, columns = 80;
static int ended; /* the terminal reported the end of the program's output */
static long limit_ms = 20000;
static char* stream;
static size_t stream_size, stream_point;
static FILE* raw;
static FILE* scrollback;
static int utf8;
static int mouse_mode; /* VTERM_PROP_MOUSE as the program last set it */
/* A UTF-8 sequence that the last read cut off, held for the next one. */
static char held[4];
static size_t held_size;
static long last_output;

static long now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

static void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stdout, format, arguments);
    va_end(arguments);
    fputc('\n', stdout);
    fflush(stdout);
}

/* Answers the terminal gives (to a status request, say) go back to the program. */
static void terminal_output(const char* bytes, size_t size, void* user) {
    (void)user;
    while (size > 0) {
        ssize_t written = write(master, bytes, size);
        if (written <= 0) return;
        bytes += written;
        size -= (size_t)written;
    }
}

/* Takes in what the program printed for at most wait_ms; returns at once after some arrived. */
static void pump(long wait_ms) {
    if (ended) {
        if (wait_ms > 0) usleep((useconds_t)wait_ms * 1000);
        return;
    }
    struct pollfd p = {master, POLLIN, 0};
    if (poll(&p, 1, (int)wait_ms) <= 0) return;
    char buffer[4096];
    ssize_t got = read(master, buffer, sizeof buffer);
    if (got <= 0) {
        if (got < 0 && errno == EAGAIN) return;
        ended = 1;
        return;
    }
    if (utf8) {
        /* The terminal takes whole characters: the tail of a sequence the read cut waits. */
        char whole[sizeof held + sizeof buffer];
        memcpy(whole, held, held_size);
        memcpy(whole + held_size, buffer, (size_t)got);
        size_t size = held_size + (size_t)got, start = size;
        while (start > 0 && size - start < 3 && ((unsigned char)whole[start - 1] & 0xC0) == 0x80)
            --start;
        size_t keep = 0;
        if (start > 0) {
            unsigned char lead = (unsigned char)whole[start - 1];
            size_t needed = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
            if (lead >= 0xC0 && size - (start - 1) < needed) keep = size - (start - 1);
        }
        vterm_input_write(terminal, whole, size - keep);
        memcpy(held, whole + size - keep, keep);
        held_size = keep;
    } else {
        vterm_input_write(terminal, buffer, (size_t)got);
    }
    stream = realloc(stream, stream_size + (size_t)got + 1);
    memcpy(stream + stream_size, buffer, (size_t)got);
    stream_size += (size_t)got;
    stream[stream_size] = '\0';
    if (raw != NULL) fwrite(buffer, 1, (size_t)got, raw);
    last_output = now_ms();
}

/* The screen as text: rows with trailing blanks cut, joined by newlines. */
static char* screen_text(void) {
    char* text = malloc((size_t)rows * (4 * (size_t)columns + 1) + 1);
    size_t length = 0;
    for (int row = 0; row < rows; ++row) {
        size_t start = length;
        size_t last = start;
        for (int column = 0; column < columns; ++column) {
            VTermScreenCell cell;
            VTermPos position = {row, column};
            vterm_screen_get_cell(screen, position, &cell);
            uint32_t c = cell.chars[0];
            if (utf8 && c == (uint32_t)-1) continue; /* a wide character's second column */
            if (utf8 && c >= 0x80) {
                if (c < 0x800) {
                    text[length++] = (char)(0xC0 | (c >> 6));
                } else {
                    if (c < 0x10000) {
                        text[length++] = (char)(0xE0 | (c >> 12));
                    } else {
                        text[length++] = (char)(0xF0 | (c >> 18));
                        text[length++] = (char)(0x80 | ((c >> 12) & 0x3F));
                    }
                    text[length++] = (char)(0x80 | ((c >> 6) & 0x3F));
                }
                text[length++] = (char)(0x80 | (c & 0x3F));
                last = length;
                continue;
            }
            char shown = c == 0 ? ' ' : (c < 0x80 ? (char)c : '?');
            text[length++] = shown;
            if (shown != ' ') last = length;
        }
        length = last;
        text[length++] = '\n';
    }
    text[length] = '\0';
    return text;
}

/* A row that leaves the top of the screen, into the scrollback file. */
static int push_line(int cells, const VTermScreenCell* row, void* user) {
    (void)user;
    char* text = malloc(4 * (size_t)cells + 2);
    size_t length = 0, last = 0;
    for (int column = 0; column < cells; ++column) {
        uint32_t c = row[column].chars[0];
        if (utf8 && c == (uint32_t)-1) continue;
        char shown = c == 0 ? ' ' : (c < 0x80 ? (char)c : '?');
        text[length++] = shown;
        if (shown != ' ') last = length;
    }
    text[last] = '\n';
    fwrite(text, 1, last + 1, scrollback);
    free(text);
    return 1;
}

static int set_property(VTermProp property, VTermValue* value, void* user) {
    (void)user;
    if (property == VTERM_PROP_MOUSE) mouse_mode = value->number;
    return 1;
}

static void show_screen(void) {
    char* text = screen_text();
    printf("---- screen %dx%d ----\n%s----\n", columns, rows, text);
    free(text);
}

static int unescape(const char* text, char* bytes) {
    int length = 0;
    for (; *text; ++text) {
        if (*text != '\\') {
            bytes[length++] = *text;
            continue;
        }
        ++text;
        switch (*text) {
            case 'r':
                bytes[length++] = '\r';
                break;
            case 'n':
                bytes[length++] = '\n';
                break;
            case 't':
                bytes[length++] = '\t';
                break;
            case 'e':
                bytes[length++] = '\x1b';
                break;
            case '\\':
                bytes[length++] = '\\';
                break;
            case 'x': {
                unsigned value = 0;
                if (sscanf(text + 1, "%2x", &value) != 1) return -1;
                bytes[length++] = (char)value;
                text += 2;
                break;
            }
            default:
                return -1;
        }
    }
    return length;
}

static int screen_has(const char* text) {
    char* shown = screen_text();
    int found = strstr(shown, text) != NULL;
    free(shown);
    return found;
}

static int stream_has(const char* text, size_t size) {
    if (stream_size < stream_point + size) return 0;
    void* found = memmem(stream + stream_point, stream_size - stream_point, text, size);
    if (found == NULL) return 0;
    stream_point = (size_t)((char*)found - stream) + size;
    return 1;
}

static int child_gone(void) {
    int status;
    return waitpid(child, &status, WNOHANG) == child;
}

static int run_step(const char* step) {
    const char* colon = strchr(step, ':');
    size_t verb_length = colon ? (size_t)(colon - step) : strlen(step);
    const char* argument = colon ? colon + 1 : "";
    char bytes[4096];
    long began = now_ms();
#define VERB(name) (verb_length == strlen(name) && strncmp(step, name, verb_length) == 0)
    if (VERB("send") || VERB("paste")) {
        int length = unescape(argument, bytes);
        if (length < 0) return say("bad escape in %s", step), 0;
        if (VERB("paste")) vterm_keyboard_start_paste(terminal);
        terminal_output(bytes, (size_t)length, NULL);
        if (VERB("paste")) vterm_keyboard_end_paste(terminal);
        return 1;
    }
    if (VERB("expect") || VERB("stream")) {
        int length = unescape(argument, bytes);
        if (length <= 0) return say("bad text in %s", step), 0;
        bytes[length] = '\0';
        for (;;) {
            if (VERB("expect") ? screen_has(bytes) : stream_has(bytes, (size_t)length)) return 1;
            if (now_ms() - began >= limit_ms || ended) {
                say("FAILED: %s: not %s", step, ended ? "before the program ended" : "in time");
                return 0;
            }
            pump(50);
        }
    }
    if (VERB("expect-no")) {
        pump(0);
        if (!screen_has(argument)) return 1;
        say("FAILED: %s: it is on the screen", step);
        return 0;
    }
    if (VERB("mouse")) {
        const int wanted = atoi(argument);
        while (mouse_mode != wanted) {
            if (now_ms() - began >= limit_ms || ended) {
                say("FAILED: %s: the mouse mode is %d", step, mouse_mode);
                return 0;
            }
            pump(50);
        }
        return 1;
    }
    if (VERB("click")) {
        int row, column;
        if (sscanf(argument, "%d,%d", &row, &column) != 2) return say("bad cell in %s", step), 0;
        vterm_mouse_move(terminal, row, column, VTERM_MOD_NONE);
        vterm_mouse_button(terminal, 1, true, VTERM_MOD_NONE);
        vterm_mouse_button(terminal, 1, false, VTERM_MOD_NONE);
        return 1;
    }
    if (VERB("quiet")) {
        long quiet = atol(argument);
        last_output = now_ms();
        while (now_ms() - last_output < quiet) {
            if (now_ms() - began >= limit_ms) return say("FAILED: %s: never quiet", step), 0;
            pump(20);
        }
        return 1;
    }
    if (VERB("wait")) {
        long wait = atol(argument);
        while (now_ms() - began < wait) pump(wait - (now_ms() - began));
        return 1;
    }
    if (VERB("resize")) {
        int r, c;
        if (sscanf(argument, "%dx%d", &r, &c) != 2 || r <= 0 || c <= 0) {
            return say("bad size in %s", step), 0;
        }
        rows = r;
        columns = c;
        vterm_set_size(terminal, rows, columns);
        struct winsize size = {(unsigned short)rows, (unsigned short)columns, 0, 0};
        ioctl(master, TIOCSWINSZ, &size);
        return 1;
    }
    if (VERB("screen")) {
        pump(0);
        if (scrollback != NULL) fflush(scrollback);
        FILE* file = fopen(argument, "w");
        if (file == NULL) return say("cannot write %s", argument), 0;
        char* text = screen_text();
        fputs(text, file);
        free(text);
        fclose(file);
        return 1;
    }
    if (VERB("run")) {
        pump(0);
        if (scrollback != NULL) fflush(scrollback);
        int status = system(argument);
        if (status == 0) return 1;
        say("FAILED: %s: status %d", step, status);
        return 0;
    }
    if (VERB("kill")) {
        kill(child, SIGKILL);
        return 1;
    }
    if (VERB("exit")) {
        while (!ended || !child_gone()) {
            if (now_ms() - began >= limit_ms) {
                say("FAILED: exit: the program still runs");
                return 0;
            }
            pump(50);
        }
        return 1;
    }
    say("unknown step %s", step);
    return 0;
#undef VERB
}

int main(int argc, char** argv) {
    int i = 1;
    for (; i + 1 < argc && strncmp(argv[i], "--", 2) == 0 && argv[i][2] != '\0'; i += 2) {
        if (strcmp(argv[i], "--size") == 0) {
            if (sscanf(argv[i + 1], "%dx%d", &rows, &columns) != 2) return 2;
        } else if (strcmp(argv[i], "--limit") == 0) {
            limit_ms = atol(argv[i + 1]);
        } else if (strcmp(argv[i], "--utf8") == 0) {
            utf8 = atoi(argv[i + 1]) != 0;
        } else if (strcmp(argv[i], "--raw") == 0) {
            raw = fopen(argv[i + 1], "wb");
        } else if (strcmp(argv[i], "--scrollback") == 0) {
            scrollback = fopen(argv[i + 1], "w");
            if (scrollback == NULL) return perror(argv[i + 1]), 2;
        } else {
            fprintf(stderr, "pty_drive: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    int first_step = i;
    while (i < argc && strcmp(argv[i], "--") != 0) ++i;
    if (i + 1 >= argc) {
        fprintf(stderr,
                "usage: pty_drive [--size RxC] [--limit MS] [--raw FILE] [--utf8 1] "
                "[--scrollback FILE] STEP... -- PROGRAM [ARG...]\n");
        return 2;
    }
    int last_step = i;
    terminal = vterm_new(rows, columns);
    vterm_set_utf8(terminal, utf8);
    vterm_output_set_callback(terminal, terminal_output, NULL);
    screen = vterm_obtain_screen(terminal);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
    static VTermScreenCallbacks callbacks;
    callbacks.settermprop = set_property;
    if (scrollback != NULL) callbacks.sb_pushline = push_line;
    vterm_screen_set_callbacks(screen, &callbacks, NULL);
    struct winsize size = {(unsigned short)rows, (unsigned short)columns, 0, 0};
    child = forkpty(&master, NULL, NULL, &size);
    if (child < 0) {
        perror("forkpty");
        return 1;
    }
    if (child == 0) {
        setenv("TERM", "xterm", 1);
        if (utf8) setenv("LC_ALL", "C.UTF-8", 1);
        execvp(argv[i + 1], argv + i + 1);
        perror("exec");
        _exit(127);
    }
    fcntl(master, F_SETFL, O_NONBLOCK);
    int failed = 0;
    for (int s = first_step; s < last_step && !failed; ++s) {
        say("step: %s", argv[s]);
        failed = !run_step(argv[s]);
    }
    if (failed) {
        show_screen();
        kill(child, SIGKILL);
    }
    waitpid(child, NULL, failed ? 0 : WNOHANG);
    if (raw != NULL) fclose(raw);
    if (scrollback != NULL) fclose(scrollback);
    vterm_free(terminal);
    return failed;
}
