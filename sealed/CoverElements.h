#pragma once

#include <cstdint>

// The cover a sealed message is embedded in: a fixed list of elements, each
// with an integer value whose lowest bit is the bit it carries. Embedding
// changes a value by exactly one step up or down (LSB matching: the parity
// flips, the value never jumps as a replaced bit would make it).
//
// The list must look the same to the reader after embedding: a change never
// removes an element or adds one. A carrier whose elements can leave the set
// (a quantized coefficient that must not become zero) keeps that promise by
// choosing the direction: it moves away from the forbidden value instead.
class CCoverElements {
public:
    virtual ~CCoverElements() = default;

    virtual std::uint64_t Count() const = 0;
    // The lowest bit of element `index`'s value.
    virtual unsigned Bit(std::uint32_t index) const = 0;
    // Steps element `index` by one so that its bit flips: upward when `up` is
    // set, unless the value is at the top of its range, and downward
    // otherwise, unless it is at the bottom.
    virtual void Change(std::uint32_t index, bool up) = 0;
};
