#pragma once

#include <QString>
#include <map>
#include <mutex>

namespace platform {

// Factories looked up by class name, letter case ignored, safe to use from any thread. The
// program keeps one for its automation classes and one for its converter classes.
template <typename Factory> class ClassRegistry {
public:
    void Register(const QString& name, Factory factory)
    {
        const std::lock_guard guard(FLock);
        FFactories[name.toLower()] = std::move(factory);
    }

    void Unregister(const QString& name)
    {
        const std::lock_guard guard(FLock);
        FFactories.erase(name.toLower());
    }

    // The factory registered under name; an empty one when there is none.
    Factory Find(const QString& name) const
    {
        const std::lock_guard guard(FLock);
        const auto it = FFactories.find(name.toLower());
        return it == FFactories.end() ? Factory() : it->second;
    }

private:
    mutable std::mutex FLock;
    std::map<QString, Factory> FFactories; // keyed by the lower-case name
};

} // namespace platform
