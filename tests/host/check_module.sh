#!/bin/sh
# Checks a built module's export table (exactly the two entry points; for
# the frei0r filter, frei0r's nine) and, for Windows, that it imports only
# system DLLs; the frei0r filter links no FFmpeg library.
# usage: check_module.sh elf|pe|frei0r TOOL MODULE
set -eu
kind=$1 tool=$2 module=$3
expected="VirtualdubFilterModuleDeinit
VirtualdubFilterModuleInit2"
if [ "$kind" = frei0r ]; then
    expected=$(printf '%s\n' f0r_construct f0r_deinit f0r_destruct f0r_get_param_info f0r_get_param_value \
        f0r_get_plugin_info f0r_init f0r_set_param_value f0r_update)
    needed=$(objdump -p "$module" | awk '$1 == "NEEDED" {print $2}')
    case "$needed" in
        *libav*|*libsw*) echo "FAIL: $module links FFmpeg:"; echo "$needed"; exit 1 ;;
    esac
    kind=elf
fi
if [ "$kind" = elf ]; then
    # Global symbols only: a local one (lower case: the linker's bounds of a
    # coverage build's sections) binds nothing outside the module.
    exports=$("$tool" -D --defined-only "$module" | awk '$2 ~ /^[TWDBRVi]$/ {print $3}' | sort)
else
    exports=$("$tool" -p "$module" | awk '/\[Ordinal\/Name Pointer\] Table/ {t=1; next} t && /^\t\[/ {print $NF} t && /^$/ {t=0}' | sort)
    imports=$("$tool" -p "$module" | awk '/DLL Name:/ {print toupper($3)}' | sort -u)
    for dll in $imports; do
        case "$dll" in
            KERNEL32.DLL|USER32.DLL|ADVAPI32.DLL|MSVCRT.DLL|GDI32.DLL|COMCTL32.DLL|API-MS-WIN-CRT-*) ;;
            *) echo "FAIL: $module imports $dll, which is not a Windows system DLL"; exit 1 ;;
        esac
    done
    echo "imports: $(echo $imports)"
fi
if [ "$exports" != "$expected" ]; then
    echo "FAIL: $module exports:"; echo "$exports"; echo "expected:"; echo "$expected"
    exit 1
fi
echo "exports: $(echo $exports)"
