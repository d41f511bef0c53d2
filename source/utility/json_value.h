// JSON document values: the tree that patches and the saved state pass through, and its writer.
//
//   JSON::Value state;                                     // null
//   state.get_object()[L"apply.changetime"] = 1.0;          // null turns into an object
//   JSON::Value& patch = state[L"patch.0"];                 // member inserted as null
//   patch.get_object()[L"soundfile"] = L"/sounds/rain.wav";
//   patch[L"adsr1.points"][L"1"] = JSON::Value(JSON::Value::Object); // null -> [null, {}]
//   std::string text = state.asciify(2, 4);                 // the saved layout, plain ASCII
//
//   const JSON::Value& saved = state;
//   const JSON::Value& rate = saved[L"patch.0"][L"grain.rate"]; // absent: reads as null
//   if (rate.kind() == JSON::Value::Number) use(rate.get_number());
//
// Strings and keys are wide strings holding one code point per character. Objects keep their
// keys in ascending order of character codes, which is also the order they are written in.
// Values are not shared between threads; each thread has its own scratch statics (below).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <type_traits>

namespace JSON {

class Value;

// An object's members by key, and an array's members in order.
using Map = std::map<std::wstring, Value>;
using Deque = std::deque<Value>;

class Value {
public:
    // The kind of a value. A copy that ran out of memory carries its kind with INVALID added
    // and has no payload (see is_valid()).
    enum Kind : std::uint32_t {
        String = 0,
        Number = 1,
        Array = 2,
        Object = 3,
        True = 4,
        False = 5,
        Null = 6,
    };
    static constexpr std::uint32_t INVALID = 0x80;

    Value() noexcept : kind_(Null), payload_{} {}
    // An empty value of the given kind: "", 0, [], {}, true, false or null.
    explicit Value(Kind kind);
    // Numbers of any arithmetic type except bool (use Value(Value::True) for literals).
    template <typename T>
        requires(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>)
    Value(T number) noexcept : kind_(Number), payload_{}
    {
        payload_.number = static_cast<double>(number);
    }
    Value(bool) = delete;
    Value(std::wstring text);
    Value(const wchar_t* text);
    Value(const Map& members);
    Value(Map&& members);
    Value(const Deque& members);
    Value(Deque&& members);

    // Copies are deep. When memory runs out during a copy the target is left invalid instead of
    // throwing: it has length 0, equals no valid value and is written as null.
    Value(const Value& other) noexcept;
    Value(Value&& other) noexcept;
    Value& operator=(const Value& other) noexcept;
    Value& operator=(Value&& other) noexcept;
    ~Value();

    // Newly allocated deep copies of a map or a sequence (the caller owns the result).
    static Map* copy(const Map& members);
    static Deque* copy(const Deque& members);

    Kind kind() const noexcept { return static_cast<Kind>(kind_); }
    bool is_valid() const noexcept { return (kind_ & INVALID) == 0; }

    // Same kind and equal content: strings character by character, numbers by ==, arrays and
    // objects member by member in order (objects also key by key).
    bool equal(const Value& other) const;
    bool operator==(const Value& other) const { return equal(other); }

    // Members of an object or an array, 1 for any other valid value, 0 for an invalid one.
    std::size_t length() const noexcept;

    // The number of a Number, else 0.
    double get_number() const noexcept;
    // The text of a String, else an empty text.
    const std::wstring& get_string() const noexcept;

    // An object's map. A null value becomes an empty object first (not through the const
    // overload, which leaves the value as it is). Any other kind gets a scratch map that is
    // emptied on every such call: writes into it do not last.
    Map& get_object();
    const Map& get_object() const;
    // The same for arrays and their sequence.
    Deque& get_array();
    const Deque& get_array() const;

    // Reading never fails: on an object the member with that key; on an array, for a numeric
    // key (is_numeric) naming a non-negative whole index (within 0.001) below the length, that
    // member. Anything else gives a null value.
    const Value& operator[](const std::wstring& key) const;
    // Writing access: on an object the member, inserted as null when missing. On an array or
    // null with a numeric, non-negative key, a null becomes an array, which grows with null
    // members up to the index; the member at the index is returned. Anything else gives a
    // scratch null value whose changes do not last.
    Value& operator[](const std::wstring& key);

    // The text of the value, laid out as the saved state is (see json_writer.cpp): containers
    // nested less than expand_depth levels deep are written one member per line, indented by
    // indent spaces per level; deeper ones on one line.
    std::wstring stringify(int indent, int level, unsigned long expand_depth) const;
    // stringify(indent, 0, expand_depth) as narrow text. Every character from 128 up is
    // escaped by the writer, so the result is plain ASCII.
    std::string asciify(int indent, unsigned long expand_depth) const;

private:
    void release() noexcept;
    void copy_from(const Value& other) noexcept;
    void write(std::wstring& out, int indent, int level, unsigned long expand_depth) const;

    std::uint32_t kind_;
    union Payload {
        double number;
        std::wstring* string;
        Deque* array;
        Map* object;
    } payload_;
};

} // namespace JSON
