// The three compression codecs: method 0 run-length coding, method 1 a Shannon-Fano
// prefix code (compiled program files), method 2 a dictionary coder with back references.
#pragma once

#include <cstdint>

// What every codec returns when its output capacity runs out, its arguments are unusable
// (negative lengths, missing buffers) or, when decoding, the stream is malformed.
inline constexpr int32_t kCodecFailed = -1;

// No stream records its decoded length: callers keep it beside the stream.

// The marker of methods 0 and 2: the byte value that occurs least often in the input,
// the lowest such value on equal counts.
uint8_t least_frequent_byte(const uint8_t* input, int32_t length);

// A capacity that always suffices for encoding `length` bytes with `method` (0, 1 or 2);
// -1 for another method or a negative length.
int64_t codec_encoded_capacity(int32_t method, int32_t length);

// Run-length codes `length` bytes into at most `capacity` bytes; returns the bytes
// written (0 for an empty input) or kCodecFailed.
int32_t rle_encode(const uint8_t* input, uint8_t* output, int32_t length, int32_t capacity);

// Decodes `input_length` bytes of a run-length stream into at most `capacity` bytes;
// returns the bytes written or kCodecFailed for a cut or oversized stream.
int32_t rle_decode(const uint8_t* input, uint8_t* output, int32_t input_length,
                   int32_t capacity);

// Codes `length` bytes with back references to the last 100,000 bytes into at most
// `capacity` bytes; returns the bytes written (0 for an empty input) or kCodecFailed.
int32_t lz_encode(const uint8_t* input, uint8_t* output, int32_t length, int32_t capacity);

// Decodes `input_length` bytes of a back-reference stream into at most `capacity` bytes;
// returns the bytes written or kCodecFailed for a cut stream, a reference reaching
// before the output or a result larger than the capacity.
int32_t lz_decode(const uint8_t* input, uint8_t* output, int32_t input_length,
                  int32_t capacity);

// Writes the code tree and the codes of `length` bytes as one bit stream into at most
// `capacity` bytes, padding the last byte with zero bits; returns the bytes written
// (0 for an empty input) or kCodecFailed, also when a code would exceed 32 bits.
int32_t shannon_fano_encode(const uint8_t* input, uint8_t* output, int32_t length,
                            int32_t capacity);

// Decodes exactly `output_length` bytes from a prefix-code stream of `input_length`
// bytes; returns output_length or kCodecFailed when the tree is malformed, a code is
// unknown or the stream ends too early.
int32_t shannon_fano_decode(const uint8_t* input, uint8_t* output, int32_t output_length,
                            int32_t input_length);
