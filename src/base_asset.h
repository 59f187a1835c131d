// The base of every script object: a fixed set of named events, each with its script
// listeners keyed by connection uuid, the script methods `on` and `removeListener`, and the
// native FireEvent. Also keeps the object's own signal connections, so they end with it.
//
// Each event's listeners sit under a reader-writer lock: a walk (Fire) takes it shared to
// collect whom to call, Add and Remove take it exclusively to change the map.
//
// Re-entrancy: a handler that FireEvent calls may subscribe and unsubscribe on the same
// registry (or fire it again) while the walk runs. No lock is held while a handler runs, since
// the thread that holds a reader-writer lock cannot take it again, shared or exclusive; so none
// of that blocks. Instead of erasing during a walk, the registry counts running walks: while
// one runs, Remove only marks a listener (walks skip marked ones, and it answers as removed at
// once), and the last walk to end erases the marked ones. A walk calls the listeners that were
// there when it started, so one added during the walk is first called by the next fire.
// Listeners are stored in a node-based map, so adding never moves one that a walk is about to
// call.
#pragma once

#include <boost/signals2/connection.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/log_call.h"
#include "common/log_tag.h"
#include "common/text_conversion.h"
#include "sciter/om.h"
#include "sciter/om_passport.h"
#include "sciter/value.h"

// A version-4 random uuid as 36 lower-case hexadecimal characters in groups 8-4-4-4-12.
// Throws a std::runtime_error when the system's random source fails.
std::wstring NewConnectionUuid();

// One subscription. Owns its copy of the handler.
class Listener {
public:
    Listener(std::wstring uuid, const sciter::value& script_handler)
        : connection_uuid(std::move(uuid)), handler(script_handler) {}
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    const std::wstring connection_uuid;
    const sciter::value handler;
    // Removed while a walk runs; erased when the last walk ends.
    std::atomic<bool> remove_pending{false};
};

// The listeners of one event. Safe to use from any thread and from inside its own handlers.
class EventListeners {
public:
    explicit EventListeners(std::wstring event_name) : name(std::move(event_name)) {}
    EventListeners(const EventListeners&) = delete;
    EventListeners& operator=(const EventListeners&) = delete;

    // Subscribes a copy of `handler`; returns its new connection uuid.
    std::wstring Add(const sciter::value& handler);
    // Whether this registry held the uuid (a removal that is pending counts as gone).
    bool Remove(const std::wstring& connection_uuid);
    // Calls every listener once with `arguments`; a handler's failure is ignored.
    void Fire(const std::vector<sciter::value>& arguments);

    const std::wstring name;

private:
    void EndWalk();

    std::unordered_map<std::wstring, Listener> listeners_;
    // Shared to read the map, exclusive to change it; never held while a handler runs.
    std::shared_mutex lock_;
    // Fire calls running now, nested ones included: raised under the shared lock, lowered
    // under the exclusive one, so it stays still while Remove holds the lock.
    std::atomic<int> walks_{0};
};

template <class T>
class BaseAsset : public sciter::om::asset<T> {
public:
    // One registry per event name; a repeated name keeps its first registry.
    explicit BaseAsset(const std::vector<std::wstring>& event_names) {
        for (const std::wstring& event : event_names) {
            events.try_emplace(event, event);
        }
    }

    // Script method `on`: subscribes a function or object; the connection uuid, or "" when
    // the handler's type or the event is refused.
    virtual std::wstring on(const std::wstring& event, sciter::value handler) {
        LOG_AT(kLogTag, spdlog::level::trace, "on event. event={}", Utf16ToUtf8(event));
        if (handler.type() != T_FUNCTION && handler.type() != T_OBJECT) {
            LOG_AT(kLogTag, spdlog::level::warn, "on event. invalid handler type. event={}",
                   Utf16ToUtf8(event));
            return {};
        }
        const auto found = events.find(event);
        if (found == events.end()) {
            LOG_AT(kLogTag, spdlog::level::err, "on event. unsupported event={}",
                   Utf16ToUtf8(event));
            return {};
        }
        return found->second.Add(handler);
    }

    // Script method `removeListener`: whether a listener of this object had the uuid.
    virtual bool removeListener(const std::wstring& connection_uuid) {
        LOG_AT(kLogTag, spdlog::level::trace, "remove listener. connection_uuid={}",
               Utf16ToUtf8(connection_uuid));
        for (auto& [event, listeners] : events) {
            if (listeners.Remove(connection_uuid)) {
                LOG_AT(kLogTag, spdlog::level::trace, "listener removed. connection_uuid={}",
                       Utf16ToUtf8(connection_uuid));
                return true;
            }
        }
        LOG_AT(kLogTag, spdlog::level::err, "no listener found. connection_uuid={}",
               Utf16ToUtf8(connection_uuid));
        return false;
    }

    // Calls every listener of `event` with one string argument made from UTF-8 text.
    void FireEvent(const std::wstring& event, std::string argument) {
        LOG_AT(kLogTag, spdlog::level::trace, "fire event. event={}", Utf16ToUtf8(event));
        const auto found = events.find(event);
        if (found == events.end()) {
            LOG_AT(kLogTag, spdlog::level::err, "fire event. unsupported event={}",
                   Utf16ToUtf8(event));
            return;
        }
        found->second.Fire({sciter::value::make_string(argument)});
    }

    static bool SCAPI OnThunk(som_asset_t* thing, UINT argc, const VALUE* argv, VALUE* result) {
        return sciter::om::method_thunk<T, &BaseAsset::on>(thing, argc, argv, result);
    }
    static bool SCAPI RemoveListenerThunk(som_asset_t* thing, UINT argc, const VALUE* argv,
                                          VALUE* result) {
        return sciter::om::method_thunk<T, &BaseAsset::removeListener>(thing, argc, argv, result);
    }

    // A class's passport tables: `on` and `removeListener` first, then its own methods.
    template <std::size_t M, std::size_t P = 0>
    static sciter::om::passport_tables<M + 2, P> PassportTables(
        const std::array<sciter::om::method_entry, M>& own_methods,
        const std::array<sciter::om::property_entry, P>& properties = {}) {
        std::array<sciter::om::method_entry, M + 2> methods{{
            {"on", 2, &OnThunk},
            {"removeListener", 1, &RemoveListenerThunk},
        }};
        std::copy(own_methods.begin(), own_methods.end(), methods.begin() + 2);
        return {methods, properties};
    }

private:
    // Fixed at construction.
    std::unordered_map<std::wstring, EventListeners> events;

public:
    // The object's own signal connections; each disconnects when destroyed.
    std::vector<boost::signals2::scoped_connection> connections;
};
