#!/usr/bin/python3
"""The Kdenlive effect description against the module itself (loaded with
ctypes, as a host would): every parameter it names exists with its type,
its default is the module's factory value, every word it offers is one the
module takes back unchanged, and a range lies within what the module takes.

usage: kdenlive_effect_test.py MODULE EFFECT_XML
"""
import ctypes
import sys
import xml.etree.ElementTree as ET

F0R_PARAM_BOOL, F0R_PARAM_STRING = 0, 4


class PluginInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("author", ctypes.c_char_p), ("plugin_type", ctypes.c_int),
                ("color_model", ctypes.c_int), ("frei0r_version", ctypes.c_int), ("major_version", ctypes.c_int),
                ("minor_version", ctypes.c_int), ("num_params", ctypes.c_int), ("explanation", ctypes.c_char_p)]


class ParamInfo(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("type", ctypes.c_int), ("explanation", ctypes.c_char_p)]


lib = ctypes.CDLL(sys.argv[1])
lib.f0r_construct.restype = ctypes.c_void_p
lib.f0r_construct.argtypes = [ctypes.c_uint, ctypes.c_uint]
for f in (lib.f0r_set_param_value, lib.f0r_get_param_value):
    f.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]
lib.f0r_destruct.argtypes = [ctypes.c_void_p]
lib.f0r_init()
info = PluginInfo()
lib.f0r_get_plugin_info(ctypes.byref(info))
params = {}
for i in range(info.num_params):
    p = ParamInfo()
    lib.f0r_get_param_info(ctypes.byref(p), i)
    params[p.name.decode()] = (i, p.type)
inst = lib.f0r_construct(64, 48)


def get(index, kind):
    if kind == F0R_PARAM_BOOL:
        v = ctypes.c_double()
        lib.f0r_get_param_value(inst, ctypes.byref(v), index)
        return "1" if v.value >= 0.5 else "0"
    s = ctypes.c_char_p()
    lib.f0r_get_param_value(inst, ctypes.byref(s), index)
    return s.value.decode()


def set_text(index, text):
    s = ctypes.c_char_p(text.encode())
    lib.f0r_set_param_value(inst, ctypes.byref(s), index)


failures = []
effect = ET.parse(sys.argv[2]).getroot()
if effect.get("tag") != f"frei0r.{info.name.decode()}":
    failures.append(f"tag {effect.get('tag')} names no module called {info.name.decode()}")
named = set()
for p in effect.iter("parameter"):
    name, kind, default = p.get("name"), p.get("type"), p.get("default")
    named.add(name)
    if name not in params:
        failures.append(f"{name}: the module has no such parameter")
        continue
    index, f0r_type = params[name]
    want_type = F0R_PARAM_BOOL if kind == "bool" else F0R_PARAM_STRING
    if f0r_type != want_type:
        failures.append(f"{name}: {kind} in the effect, frei0r type {f0r_type} in the module")
    if p.find("name") is None or not p.find("name").text:
        failures.append(f"{name}: no label")
    if get(index, f0r_type) != default:
        failures.append(f"{name}: default {default} in the effect, {get(index, f0r_type)} in the module")
    if kind == "list":
        words = p.get("paramlist").split(";")
        labels = p.find("paramlistdisplay").text.split(",")
        if len(words) != len(labels):
            failures.append(f"{name}: {len(words)} words but {len(labels)} labels")
        for word in words:
            set_text(index, word)
            if get(index, f0r_type) != word:
                failures.append(f"{name}: the module does not take {word}")
    if kind == "constant":
        for value in (p.get("min"), p.get("max"), default + ".000000"):
            set_text(index, value)
            if get(index, f0r_type) != value:
                failures.append(f"{name}: the module does not take {value}")
        for beyond in (int(p.get("min")) - 1, int(p.get("max")) + 1):
            set_text(index, str(beyond))
            if get(index, f0r_type) == str(beyond):
                failures.append(f"{name}: the module takes {beyond}, beyond the effect's range")
    if f0r_type == F0R_PARAM_STRING:
        set_text(index, "")  # back to unset
# Every parameter but the Config line, which is for scripts, not a form.
for name in set(params) - named - {"config"}:
    failures.append(f"{name}: in the module but not in the effect")
lib.f0r_destruct(inst)
for f in failures:
    print("FAIL:", f)
print(f"{len(named)} parameters checked" if not failures else "")
sys.exit(1 if failures else 0)
