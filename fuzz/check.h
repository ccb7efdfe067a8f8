#pragma once
// What counts as a fault in the fuzz targets. An error that escapes a handler is fine
// when the window's guard can show it: a runtime error with a message in UTF-8. A
// programming error (a logic error such as an unknown control name, an empty function
// hook, a failed cast, an allocation failure, anything that is no std::exception) is a
// fault, and so is every broken property the targets check: they abort, and libFuzzer
// keeps the input.
#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <type_traits>
#include <typeinfo>

namespace fuzzcheck {

[[noreturn]] inline void fail(const char *what, const QString &detail = {})
{
    std::fprintf(stderr, "\n*** velto fuzz: %s%s%s\n", what, detail.isEmpty() ? "" : ": ",
                 detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

inline void require(bool condition, const char *what, const QString &detail = {})
{
    if (!condition)
        fail(what, detail);
}

// The same with a detail that is made only when the property breaks: most details
// cost more to write than the check itself.
template <typename Detail, typename = std::enable_if_t<std::is_invocable_r_v<QString, Detail>>>
void require(bool condition, const char *what, Detail &&detail)
{
    if (!condition)
        fail(what, detail());
}

// Runs f as the window's guard does; returns the message of the error that escaped, or
// nothing when f returned normally.
template <typename F> std::optional<QString> guarded(F &&f)
{
    try {
        f();
        return std::nullopt;
    } catch (const std::logic_error &e) {
        fail("logic error escaped a handler", QString::fromUtf8(e.what()));
    } catch (const std::bad_function_call &) {
        fail("a hook that nobody set was called");
    } catch (const std::bad_alloc &) {
        fail("allocation failed");
    } catch (const std::bad_cast &) {
        fail("bad cast");
    } catch (const std::exception &e) {
        const QByteArray message(e.what());
        require(!message.isEmpty(), "an error without a message escaped a handler");
        require(message.isValidUtf8(), "an error message is not UTF-8", QString::fromLatin1(message));
        return QString::fromUtf8(message);
    } catch (...) {
        fail("something that is not a std::exception escaped a handler");
    }
}

} // namespace fuzzcheck
