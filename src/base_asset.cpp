#include "src/base_asset.h"

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <sstream>

#include "sciter/sapi.h"

std::wstring NewConnectionUuid() {
    boost::uuids::random_generator generator;
    std::wostringstream text;
    text << generator();
    return text.str();
}

std::wstring EventListeners::Add(const sciter::value& handler) {
    std::wstring uuid = NewConnectionUuid();
    const std::unique_lock lock(lock_);
    listeners_.try_emplace(uuid, uuid, handler);
    return uuid;
}

bool EventListeners::Remove(const std::wstring& connection_uuid) {
    const std::unique_lock lock(lock_);
    const auto found = listeners_.find(connection_uuid);
    if (found == listeners_.end() || found->second.remove_pending) {
        return false;
    }
    if (walks_ > 0) {
        found->second.remove_pending.exchange(true);
    } else {
        listeners_.erase(found);
    }
    return true;
}

void EventListeners::Fire(const std::vector<sciter::value>& arguments) {
    std::vector<Listener*> walk;
    {
        const std::shared_lock lock(lock_);
        ++walks_;
        walk.reserve(listeners_.size());
        for (auto& [uuid, listener] : listeners_) {
            if (!listener.remove_pending) {
                walk.push_back(&listener);
            }
        }
    }
    struct WalkEnd {
        EventListeners& listeners;
        ~WalkEnd() { listeners.EndWalk(); }
    } const walk_end{*this};

    std::vector<VALUE> argv(arguments.begin(), arguments.end());  // borrowed from `arguments`
    for (Listener* const listener : walk) {
        if (listener->remove_pending) {
            continue;  // removed by a handler earlier in this walk
        }
        sciter::value self;
        sciter::value result;
        SAPI()->ValueInvoke(&listener->handler, &self, static_cast<UINT>(argv.size()), argv.data(),
                            &result, nullptr);
    }
}

void EventListeners::EndWalk() {
    const std::unique_lock lock(lock_);
    if (--walks_ == 0) {
        std::erase_if(listeners_,
                      [](const auto& entry) { return entry.second.remove_pending.load(); });
    }
}
