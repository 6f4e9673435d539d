// Checksums, string hashes and the keyed scrambler for scripts: crc16, crc32, hash and
// encrypt.
#pragma once

// Registers crc16, crc32, hash and encrypt by their script names.
void register_checksum_builtins();
