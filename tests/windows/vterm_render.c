/* Renders a byte stream the way an ANSI terminal shows it: feeds the bytes to libvterm and prints
 * the screen, one line per row with trailing blanks removed, then the cursor, the cells shown
 * in reverse video, and the cells given colours ("colour ROW COLUMN FG BG": palette indexes, "d"
 * for the terminal's own, "-" for the foreground of a blank).  Used by the Windows tests to compare what the client sees with the
 * console.
 *
 * Last come the terminal's properties: "property alternate 0|1" (the alternate screen shown),
 * "property cursor 0|1" (the cursor visible) and "property title TEXT".
 *
 * With "scrollback", the rows that scrolled off the top come first, oldest first, as the rows.
 * With --utf8 the stream is UTF-8 and the rows are printed in UTF-8 (a character that takes two
 * columns once); otherwise a character beyond 0xFF prints as '?'.
 *
 *   vterm_render [--utf8] ROWS COLUMNS FILE [scrollback]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vterm.h>

/* A row's characters without trailing blanks, into line (columns + 1 bytes). */
static void RowText(const VTermScreenCell* cells, int columns, char* line) {
    int length = 0;
    for (int column = 0; column < columns; ++column) {
        uint32_t c = cells[column].chars[0];
        line[column] = (char)(c == 0 ? ' ' : (c < 0x100 ? c : '?'));
        if (line[column] != ' ') length = column + 1;
    }
    line[length] = '\0';
}

static int PushLine(int columns, const VTermScreenCell* cells, void* user) {
    char* line = malloc((size_t)columns + 1);
    RowText(cells, columns, line);
    fprintf((FILE*)user, "%s\n", line);
    free(line);
    return 1;
}

/* Appends the UTF-8 of c to line at *length. */
static void put_utf8(char* line, int* length, uint32_t c) {
    if (c < 0x80) {
        line[(*length)++] = (char)c;
    } else if (c < 0x800) {
        line[(*length)++] = (char)(0xC0 | (c >> 6));
        line[(*length)++] = (char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        line[(*length)++] = (char)(0xE0 | (c >> 12));
        line[(*length)++] = (char)(0x80 | ((c >> 6) & 0x3F));
        line[(*length)++] = (char)(0x80 | (c & 0x3F));
    } else {
        line[(*length)++] = (char)(0xF0 | (c >> 18));
        line[(*length)++] = (char)(0x80 | ((c >> 12) & 0x3F));
        line[(*length)++] = (char)(0x80 | ((c >> 6) & 0x3F));
        line[(*length)++] = (char)(0x80 | (c & 0x3F));
    }
}

/* The properties the stream set. */
static int g_alternate = 0, g_cursor_visible = 1;
static char g_title[1024] = "";

static int SetProperty(VTermProp property, VTermValue* value, void* user) {
    (void)user;
    if (property == VTERM_PROP_ALTSCREEN) g_alternate = value->boolean != 0;
    if (property == VTERM_PROP_CURSORVISIBLE) g_cursor_visible = value->boolean != 0;
    if (property == VTERM_PROP_TITLE) snprintf(g_title, sizeof g_title, "%s", value->string);
    return 1;
}

/* A colour the terminal was given: its palette index, or 256 for any other. */
static int Colour(const VTermColor* colour) {
    return VTERM_COLOR_IS_INDEXED(colour) ? colour->indexed.idx : 256;
}

int main(int argc, char** argv) {
    int utf8 = argc > 1 && strcmp(argv[1], "--utf8") == 0;
    argc -= utf8;
    argv += utf8;
    if (argc != 4 && !(argc == 5 && strcmp(argv[4], "scrollback") == 0)) {
        fprintf(stderr, "usage: vterm_render [--utf8] ROWS COLUMNS FILE [scrollback]\n");
        return 2;
    }
    int rows = atoi(argv[1]);
    int columns = atoi(argv[2]);
    FILE* file = fopen(argv[3], "rb");
    if (rows <= 0 || columns <= 0 || file == NULL) {
        fprintf(stderr, "vterm_render: bad size or unreadable file\n");
        return 2;
    }
    VTerm* terminal = vterm_new(rows, columns);
    vterm_set_utf8(terminal, utf8);
    VTermScreen* screen = vterm_obtain_screen(terminal);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
    VTermScreenCallbacks callbacks;
    memset(&callbacks, 0, sizeof callbacks);
    if (argc == 5) callbacks.sb_pushline = PushLine;
    callbacks.settermprop = SetProperty;
    vterm_screen_set_callbacks(screen, &callbacks, stdout);
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
        vterm_input_write(terminal, buffer, count);
    }
    fclose(file);

    char* line = malloc(4 * (size_t)columns + 1);
    for (int row = 0; row < rows; ++row) {
        int length = 0;
        if (utf8) {
            int end = 0;
            for (int column = 0; column < columns; ++column) {
                VTermScreenCell cell;
                VTermPos position = {row, column};
                vterm_screen_get_cell(screen, position, &cell);
                uint32_t c = cell.chars[0];
                if (c == (uint32_t)-1) continue; /* the second column of a wide character */
                put_utf8(line, &length, c == 0 ? ' ' : c);
                if (c != 0 && c != ' ') end = length;
            }
            line[end] = '\0';
            printf("%s\n", line);
            continue;
        }
        for (int column = 0; column < columns; ++column) {
            VTermScreenCell cell;
            VTermPos position = {row, column};
            vterm_screen_get_cell(screen, position, &cell);
            uint32_t c = cell.chars[0];
            line[column] = (char)(c == 0 ? ' ' : (c < 0x100 ? c : '?'));
            if (line[column] != ' ') length = column + 1;
        }
        line[length] = '\0';
        printf("%s\n", line);
    }
    VTermPos cursor;
    vterm_state_get_cursorpos(vterm_obtain_state(terminal), &cursor);
    printf("cursor %d %d\n", cursor.row, cursor.col);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            VTermScreenCell cell;
            VTermPos position = {row, column};
            vterm_screen_get_cell(screen, position, &cell);
            if (cell.attrs.reverse) printf("reverse %d %d\n", row, column);
        }
    }
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            VTermScreenCell cell;
            VTermPos position = {row, column};
            vterm_screen_get_cell(screen, position, &cell);
            /* A blank shows no foreground. */
            int blank = cell.chars[0] == 0 || cell.chars[0] == ' ';
            int fg = blank || VTERM_COLOR_IS_DEFAULT_FG(&cell.fg) ? -1 : Colour(&cell.fg);
            int bg = VTERM_COLOR_IS_DEFAULT_BG(&cell.bg) ? -1 : Colour(&cell.bg);
            if (fg == -1 && bg == -1) continue;
            printf("colour %d %d ", row, column);
            if (fg == -1) printf(blank ? "- " : "d "); else printf("%d ", fg);
            if (bg == -1) printf("d\n"); else printf("%d\n", bg);
        }
    }
    printf("property alternate %d\nproperty cursor %d\nproperty title %s\n", g_alternate,
           g_cursor_visible, g_title);
    free(line);
    vterm_free(terminal);
    return 0;
}
