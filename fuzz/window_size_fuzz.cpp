// Window-size validation and lowering, the windows made for a size, and the notices' texts for
// any size, error and step name; the MaxWindowSize setting's text, the limit it raises and the
// jump to the largest window.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "WindowSizing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    WindowSize requested{input.ConsumeIntegral<SHORT>(), input.ConsumeIntegral<SHORT>()};
    WindowSize valid = ValidWindowSize(requested);
    if (valid.columns < 1 || valid.columns > kMaxWindowColumns || valid.rows < 1 ||
        valid.rows > kMaxWindowRows)
        abort();

    // Lowering from a valid size takes rows down to the floor first, then columns, one at a
    // time, and reaches one column within a bounded number of steps.
    WindowSize lowered = valid;
    for (int steps = 0; lowered.columns > 1; ++steps) {
        if (steps > kMaxWindowColumns + kMaxWindowRows) abort();
        WindowSize next = LowerWindowSize(lowered);
        int fell = (lowered.columns - next.columns) + (lowered.rows - next.rows);
        if (fell != 1 || next.rows < 1) abort();
        if (next.columns != lowered.columns && lowered.rows > kLoweredRowsFloor) abort();
        lowered = next;
    }

    // The windows fit both the buffer they are set on and the requested size.
    COORD buffer{static_cast<SHORT>(input.ConsumeIntegralInRange(1, 9999)),
                 static_cast<SHORT>(input.ConsumeIntegralInRange(1, 9999))};
    SMALL_RECT shrunk = ShrunkWindow(buffer, valid);
    if (shrunk.Left != 0 || shrunk.Top != 0 || shrunk.Right < 0 || shrunk.Bottom < 0 ||
        shrunk.Right >= buffer.X || shrunk.Bottom >= buffer.Y || shrunk.Right >= valid.columns ||
        shrunk.Bottom >= valid.rows)
        abort();
    SMALL_RECT full = FullWindow(valid);
    if (full.Right != valid.columns - 1 || full.Bottom != valid.rows - 1) abort();
    DWORD error = input.ConsumeIntegral<DWORD>();
    if (IsFullScreenRefusal(error, COORD{valid.columns, valid.rows}, valid)) abort();

    // The notices stay within their 1024-byte buffer whatever they are given.
    std::string step = input.ConsumeRandomLengthString(1200);
    std::unique_ptr<char[]> notice(new char[1024]);
    int length = FormatRetryNotice(
        notice.get(), step.c_str(), error,
        COORD{input.ConsumeIntegral<SHORT>(), input.ConsumeIntegral<SHORT>()}, requested);
    if (length < 0 || length > 1024 || notice[length < 1024 ? length : 1023] != '\0') abort();
    length = FormatFullScreenNotice(notice.get(), requested);
    if (length <= 0 || length >= 1024 || std::strlen(notice.get()) != static_cast<size_t>(length))
        abort();

    // Lowering for any largest window: one step at a time, as before while the rows fit it,
    // never below one cell, and it runs out at 1x1 within a bounded number of steps.
    COORD largest{input.ConsumeIntegral<SHORT>(), input.ConsumeIntegral<SHORT>()};
    lowered = valid;
    for (int steps = 0;; ++steps) {
        if (steps > kMaxWindowColumns + kMaxWindowRows) abort();
        WindowSize next = lowered;
        if (!NextWindowSize(&next, largest)) {
            if (lowered.columns != 1 || lowered.rows != 1) abort();
            break;
        }
        int fell = (lowered.columns - next.columns) + (lowered.rows - next.rows);
        if (fell != 1 || next.columns < 1 || next.rows < 1) abort();
        WindowSize before = LowerWindowSize(lowered);
        bool as_before = next.columns == before.columns && next.rows == before.rows;
        if (lowered.rows <= largest.Y && lowered.columns > 1 && !as_before) abort();
        lowered = next;
    }

    // Any setting text: the size when it is two numbers from 1 to 32767 joined by "x", else 0x0.
    std::string setting = input.ConsumeRandomLengthString(16);
    setting.resize(std::strlen(setting.c_str()));  // the registry's text ends at its first zero
    COORD most = WindowSizeFromSetting(setting.c_str());
    const size_t x = setting.find('x');
    const bool digits = x != std::string::npos && x > 0 && x + 1 < setting.size() &&
                        setting.find_first_not_of("0123456789", x + 1) == std::string::npos &&
                        setting.find_first_not_of("0123456789") == x;
    long columns = digits ? std::strtol(setting.substr(0, x).c_str(), nullptr, 10) : 0;
    long rows = digits ? std::strtol(setting.substr(x + 1).c_str(), nullptr, 10) : 0;
    const bool good = columns >= 1 && columns <= 32767 && rows >= 1 && rows <= 32767;
    if (good ? (most.X != columns || most.Y != rows) : (most.X != 0 || most.Y != 0)) abort();
    if (input.ConsumeBool()) {
        most = COORD{input.ConsumeIntegral<SHORT>(), input.ConsumeIntegral<SHORT>()};
    }
    // Within the raised limit, or the written rule; never a size below one cell.
    valid = ValidWindowSize(requested, most);
    const bool raised = RaisedWindowLimit(most);
    const WindowSize limit =
        raised ? WindowSize{most.X, most.Y} : WindowSize{kMaxWindowColumns, kMaxWindowRows};
    if (valid.columns < 1 || valid.rows < 1 || valid.columns > limit.columns ||
        valid.rows > limit.rows)
        abort();
    if (!raised && (valid.columns != ValidWindowSize(requested).columns ||
                    valid.rows != ValidWindowSize(requested).rows))
        abort();
    // A request within the limit is taken as it is.
    if (requested.columns >= 1 && requested.rows >= 1 && requested.columns <= limit.columns &&
        requested.rows <= limit.rows &&
        (valid.columns != requested.columns || valid.rows != requested.rows))
        abort();
    // The jump never grows a part, never goes below one cell, and lands within the largest window.
    WindowSize jumped = valid;
    if (FitLargestWindow(&jumped, largest)) {
        if (jumped.columns > valid.columns || jumped.rows > valid.rows || jumped.columns < 1 ||
            jumped.rows < 1 || jumped.columns > largest.X || jumped.rows > largest.Y ||
            (jumped.columns == valid.columns && jumped.rows == valid.rows))
            abort();
    } else if (jumped.columns != valid.columns || jumped.rows != valid.rows) {
        abort();
    }
    return 0;
}
