// SPDX-License-Identifier: MIT
// version.h: the version that every command prints.
#pragma once

inline constexpr char command_version[] = "v1.02";
