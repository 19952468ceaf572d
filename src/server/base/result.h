#pragma once

#include <QString>

#include <optional>
#include <utility>

// Why an operation could not be done, in Portuguese for whoever reads it,
// and what kind of failure it was, for a door to say in its own terms (an
// HTTP status, an MQTT answer).
struct Failure {
    enum class Kind {
        Invalid,  // what was asked cannot be read or is not allowed
        NotFound,  // it names nothing there is
        Forbidden, // it is there, and not to be reached this way
        TooLarge,  // beyond a bound
        Io         // the disk, a socket, a broker refused
    };
    Kind kind = Kind::Invalid;
    QString why;

    static Failure invalid(QString why) { return {Kind::Invalid, std::move(why)}; }
    static Failure notFound(QString why) { return {Kind::NotFound, std::move(why)}; }
    static Failure forbidden(QString why) { return {Kind::Forbidden, std::move(why)}; }
    static Failure tooLarge(QString why) { return {Kind::TooLarge, std::move(why)}; }
    static Failure io(QString why) { return {Kind::Io, std::move(why)}; }
};

// The one way the service's operations fail: a value, or a Failure.
// Result<> carries no value.
template <class T = void>
class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *m_value; }
    T &value() { return *m_value; }
    const T &operator*() const { return *m_value; }
    const T *operator->() const { return &*m_value; }
    const Failure &failure() const { return m_failure; }
    const QString &why() const { return m_failure.why; }

private:
    std::optional<T> m_value;
    Failure m_failure;
};

template <>
class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure) : m_ok(false), m_failure(std::move(failure)) {}

    bool ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const Failure &failure() const { return m_failure; }
    const QString &why() const { return m_failure.why; }

private:
    bool m_ok = true;
    Failure m_failure;
};
