// Controls reached through dispatch members by number (the media viewer of codec 8), their event
// sink, and the registry that creates a control by its name (ProgID).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace kx {

// A byte array argument: a view of the caller's bytes, valid for the duration of the call (or of
// the event); whoever keeps the bytes copies them.
struct DispatchBytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

using DispatchValue = std::variant<std::monostate, bool, int16_t, int32_t, uintptr_t, DispatchBytes>;

enum class DispatchKind { Method, PropertyGet, PropertyPut };

// The outcome of one call: a returned value, or the control's automation error with its text.
struct DispatchResult {
    bool ok = true;
    DispatchValue value;
    std::string error;
};

// Receives a control's events on the thread that called into the control.
class DispatchEventSink {
public:
    virtual ~DispatchEventSink() = default;
    virtual void onEvent(std::string_view name, std::span<const DispatchValue> arguments) = 0;
};

class DispatchControl {
public:
    virtual ~DispatchControl() = default;
    // Calls member `member`; `arguments` in the member's order.
    virtual DispatchResult invoke(int32_t member, DispatchKind kind, std::span<const DispatchValue> arguments) = 0;
    // Connects `sink` to the event interface named by `interfaceId`; false when the control has
    // no such interface. One sink at a time; disconnect before the sink goes away.
    virtual bool connect(std::string_view interfaceId, DispatchEventSink* sink) = 0;
    virtual void disconnect() = 0;
};

// Controls by name. Thread-safe; the process-wide registry holds the player's own controls.
class ControlRegistry {
public:
    using Factory = std::function<std::unique_ptr<DispatchControl>()>;

    void add(std::string progId, Factory factory);
    // Null when no control of that name is registered (or its factory gives none).
    std::unique_ptr<DispatchControl> create(std::string_view progId) const;
    // The factory registered under `progId`; empty when there is none.
    Factory find(std::string_view progId) const;

    // The registry with the player's own controls.
    static ControlRegistry& process();

private:
    mutable std::mutex m_mutex;
    std::map<std::string, Factory, std::less<>> m_factories;
};

}  // namespace kx
