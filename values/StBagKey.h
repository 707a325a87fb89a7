// Typed bag keys: global attribute names built once from C literals, which
// also fix the type in which callers handle the value (T) and the value class
// that holds it in the bag (V), optionally with a default that is never
// stored. Included by VValueBag.h.
#pragma once

#include <type_traits>

#include "values/StPackedDictionaryKey.h"
#include "values/VValueBag.h"

namespace qelt {

namespace bagkey_detail {

// Moves a T into a V and back through the single-value setters and getters.
template <class T, class V>
struct Traits {
    static void ToValue(const T& in, V& out)
    {
        if constexpr (std::is_same_v<T, V>) {
            out = in;
        } else if constexpr (std::is_same_v<T, bool>) {
            out.FromBoolean(in ? 1 : 0);
        } else if constexpr (sizeof(T) > 4) {
            out.FromLong8(static_cast<long long>(in));
        } else {
            out.FromLong(static_cast<int>(in));
        }
    }

    static T FromValue(const V& in)
    {
        if constexpr (std::is_same_v<T, V>) {
            return in;
        } else if constexpr (std::is_same_v<T, bool>) {
            return in.GetBoolean();
        } else if constexpr (sizeof(T) > 4) {
            return static_cast<T>(in.GetLong8());
        } else {
            return static_cast<T>(in.GetLong());
        }
    }
};

}  // namespace bagkey_detail

template <class T, class V>
class StBagKeyNoDefault : public StPackedDictionaryKey {
public:
    explicit StBagKeyNoDefault(const char* name) : StPackedDictionaryKey(name) {}

    // The attribute read as T; T's zero value when the bag lacks it.
    T Get(const VValueBag& bag) const
    {
        T value{};
        Get(bag, value);
        return value;
    }

    // False, leaving `out` unchanged, when the bag lacks the attribute.
    bool Get(const VValueBag& bag, T& out) const
    {
        V holder;
        if (!bag.GetAttribute(*this, holder))
            return false;
        out = bagkey_detail::Traits<T, V>::FromValue(holder);
        return true;
    }

    void Set(VValueBag& bag, const T& value) const
    {
        V holder;
        bagkey_detail::Traits<T, V>::ToValue(value, holder);
        bag.SetAttribute(*this, holder);
    }
};

template <class T, class V>
class StBagKeyWithDefault : public StPackedDictionaryKey {
public:
    StBagKeyWithDefault(const char* name, const T& defaultValue)
        : StPackedDictionaryKey(name), fDefault(defaultValue)
    {
    }

    const T& GetDefault() const { return fDefault; }

    // The attribute read as T; the default when the bag lacks it.
    T Get(const VValueBag& bag) const
    {
        V holder;
        if (!bag.GetAttribute(*this, holder))
            return fDefault;
        return bagkey_detail::Traits<T, V>::FromValue(holder);
    }

    // A value equal to the default removes the attribute instead of storing it.
    void Set(VValueBag& bag, const T& value) const
    {
        V holder;
        bagkey_detail::Traits<T, V>::ToValue(value, holder);
        V defaultHolder;
        bagkey_detail::Traits<T, V>::ToValue(fDefault, defaultHolder);
        if (holder.EqualToSameKind(&defaultHolder, true))
            bag.RemoveAttribute(*this);
        else
            bag.SetAttribute(*this, holder);
    }

private:
    T fDefault;
};

}  // namespace qelt
