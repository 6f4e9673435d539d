// What a script can learn about the handheld: its serial number, its owner's details
// and its processor and platform.
#pragma once

// deviceserial(kind): kind 2000 the maker's asset serial, kind 2002 a text of 17
// upper-case hexadecimal digits taken from the HAL's device identifier; "" when the
// source is missing and for any other kind.
void builtin_deviceserial();
// deviceowner(list): the list holds the owner's name, company, address, telephone,
// e-mail and notes, "" for whatever is not set; its cursor on the name.
void builtin_deviceowner();
// device(item): 0 version of the processor record, 1 core, 2 core revision, 3 processor
// name, 4 processor revision, 5 catalogue number, 6 vendor, 7 instruction-set bits,
// 8 clock speed in hertz, 9 platform type, 10 OEM information. Numbers for 0, 2, 4, 7
// and 8, texts for the others; 0 for another item or when the processor is unknown.
void builtin_device();

// Registers the built-ins above by their script names.
void register_device_builtins();
