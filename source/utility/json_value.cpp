// JSON document values: ownership, copies, comparison and member access.
#include "utility/json_value.h"

#include "utility/is_numeric.h"

#include <charconv>
#include <cmath>
#include <memory>
#include <new>
#include <utility>

namespace JSON {

namespace {

// Scratch values handed out where a member or a container does not exist. They are per thread
// so that documents on different threads (two instances restoring their state at once) never
// share one.
Map& scratch_map()
{
    thread_local Map map;
    map.clear();
    return map;
}

Deque& scratch_deque()
{
    thread_local Deque deque;
    deque.clear();
    return deque;
}

Value& scratch_null()
{
    thread_local Value dummy;
    dummy = Value();
    return dummy;
}

// The index a numeric key names, or -1 when the key is not numeric or names a negative value.
// The key is ASCII when it is numeric, so narrowing it character by character is exact.
double key_value(const std::wstring& key)
{
    if (!is_numeric(key))
        return -1;
    std::string narrow(key.begin(), key.end());
    // Parsed like atof but independent of the C locale's decimal point.
    std::size_t start = narrow[0] == '+' ? 1 : 0;
    double value = 0;
    const auto [end, error] = std::from_chars(narrow.data() + start, narrow.data() + narrow.size(), value);
    (void)end;
    if (error != std::errc())
        value = 0; // like atof: no conversion reads as 0
    return value;
}

// Indices beyond this cannot be held by any array; such keys are treated as not numeric.
constexpr double MAX_INDEX = 4294967295.0;

} // namespace

Value::Value(Kind kind) : kind_(kind), payload_{}
{
    switch (kind) {
    case String: payload_.string = new std::wstring(); break;
    case Array: payload_.array = new Deque(); break;
    case Object: payload_.object = new Map(); break;
    case Number: payload_.number = 0; break;
    default: kind_ = kind <= Null ? kind : Null; break;
    }
}

Value::Value(std::wstring text) : kind_(String), payload_{}
{
    payload_.string = new std::wstring(std::move(text));
}

Value::Value(const wchar_t* text) : Value(std::wstring(text)) {}

Value::Value(const Map& members) : kind_(Object), payload_{} { payload_.object = copy(members); }

Value::Value(Map&& members) : kind_(Object), payload_{} { payload_.object = new Map(std::move(members)); }

Value::Value(const Deque& members) : kind_(Array), payload_{} { payload_.array = copy(members); }

Value::Value(Deque&& members) : kind_(Array), payload_{} { payload_.array = new Deque(std::move(members)); }

Value::Value(const Value& other) noexcept : kind_(Null), payload_{} { copy_from(other); }

Value::Value(Value&& other) noexcept : kind_(other.kind_), payload_(other.payload_)
{
    other.kind_ = Null;
    other.payload_ = {};
}

Value& Value::operator=(const Value& other) noexcept
{
    if (this != &other) {
        Value copied(other);
        *this = std::move(copied);
    }
    return *this;
}

Value& Value::operator=(Value&& other) noexcept
{
    if (this != &other) {
        // The old payload may own other (an assignment of a member to its container), so take
        // other's payload first and free the old one afterwards.
        Value old(std::move(*this));
        kind_ = other.kind_;
        payload_ = other.payload_;
        other.kind_ = Null;
        other.payload_ = {};
    }
    return *this;
}

Value::~Value() { release(); }

void Value::release() noexcept
{
    switch (kind_) {
    case String: delete payload_.string; break;
    case Array: delete payload_.array; break;
    case Object: delete payload_.object; break;
    default: break;
    }
    kind_ = Null;
    payload_ = {};
}

void Value::copy_from(const Value& other) noexcept
{
    // The kind carries the invalid mark until the payload is in place, so a copy that runs out
    // of memory leaves a marked value without payload.
    kind_ = other.kind_ | INVALID;
    payload_ = {};
    try {
        switch (other.kind_) {
        case String: payload_.string = new std::wstring(*other.payload_.string); break;
        case Array: payload_.array = copy(*other.payload_.array); break;
        case Object: payload_.object = copy(*other.payload_.object); break;
        case Number: payload_.number = other.payload_.number; break;
        default: break;
        }
    } catch (const std::bad_alloc&) {
        return;
    } catch (const std::length_error&) {
        return;
    }
    kind_ = other.kind_;
}

Map* Value::copy(const Map& members) { return std::make_unique<Map>(members).release(); }

Deque* Value::copy(const Deque& members) { return std::make_unique<Deque>(members).release(); }

bool Value::equal(const Value& other) const
{
    if (kind_ != other.kind_)
        return false;
    switch (kind_) {
    case String: return *payload_.string == *other.payload_.string;
    case Number: return payload_.number == other.payload_.number;
    case Array: return *payload_.array == *other.payload_.array;
    case Object: return *payload_.object == *other.payload_.object;
    default: return true;
    }
}

std::size_t Value::length() const noexcept
{
    switch (kind_) {
    case Array: return payload_.array->size();
    case Object: return payload_.object->size();
    default: return is_valid() ? 1 : 0;
    }
}

double Value::get_number() const noexcept { return kind_ == Number ? payload_.number : 0.0; }

const std::wstring& Value::get_string() const noexcept
{
    static const std::wstring empty;
    return kind_ == String ? *payload_.string : empty;
}

Map& Value::get_object()
{
    if (kind_ == Null) {
        payload_.object = new Map();
        kind_ = Object;
    }
    return kind_ == Object ? *payload_.object : scratch_map();
}

const Map& Value::get_object() const { return kind_ == Object ? *payload_.object : scratch_map(); }

Deque& Value::get_array()
{
    if (kind_ == Null) {
        payload_.array = new Deque();
        kind_ = Array;
    }
    return kind_ == Array ? *payload_.array : scratch_deque();
}

const Deque& Value::get_array() const { return kind_ == Array ? *payload_.array : scratch_deque(); }

const Value& Value::operator[](const std::wstring& key) const
{
    if (kind_ == Object) {
        const auto found = payload_.object->find(key);
        if (found != payload_.object->end())
            return found->second;
    } else if (kind_ == Array) {
        const double v = key_value(key);
        if (v >= 0 && v <= MAX_INDEX) {
            const double index = std::floor(v);
            if (v - index < 0.001 && index < double(payload_.array->size()))
                return (*payload_.array)[std::size_t(index)];
        }
    }
    return scratch_null();
}

Value& Value::operator[](const std::wstring& key)
{
    if (kind_ == Object)
        return (*payload_.object)[key];
    if (kind_ == Array || kind_ == Null) {
        const double v = key_value(key);
        if (v >= 0 && v <= MAX_INDEX) {
            const std::size_t index = std::size_t(std::floor(v));
            Deque& members = get_array();
            if (members.size() <= index)
                members.resize(index + 1);
            return members[index];
        }
    }
    return scratch_null();
}

} // namespace JSON
