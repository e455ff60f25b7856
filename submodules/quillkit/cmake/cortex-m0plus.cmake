# SPDX-License-Identifier: MIT
# quillkit for a Cortex-M0+ (a bootloader's build), with Debian's
# gcc-arm-none-eabi, built for size:
#   cmake -S submodules/quillkit -B build/cortex-m0plus --toolchain submodules/quillkit/cmake/cortex-m0plus.cmake
#   cmake --build build/cortex-m0plus
# leaves libquillkit.a there. Another Cortex-M wants its own -mcpu.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY) # no program links without the device's start-up code
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-m0plus -mthumb -Os -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-m0plus -mthumb -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti")
