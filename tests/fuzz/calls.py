"""Generated scripts that call the window, control, menu, display, game and COM built-ins
with handles that are right, 0, -1, freed or of another kind, with edge sizes, and with
event procedures that destroy what the runtime is walking when it calls them (a sprite's
event deleting sprites, a particle event clearing particles, a form closing itself, a
program ending inside a window procedure).

A case is a script, an input timeline and the arguments of its run; the same random
generator state gives the same case."""

import re

# Argument kinds, one letter each:
#   handles: W window (form, dialog or control), M menu, F window font, S sprite,
#            P particle, A path, U surface, G game font, V VGA font, C COM object,
#            X ActiveX control, K lock record of g_lock
#   values:  N number, Z size, T text, Q procedure, L list variable, Y result variable,
#            B memory block (a live one or 0: a wild address faults by design)
# A trailing "*" marks a variadic built-in: the kinds given, then a few more values.
SIGNATURES = """
ADDEVENT W N N Q
CLEAREVENTS W
handlemessage
processmessages
newform T T Q
newformex T T N N Z Z Z Z Q
newdlg T T Q Z Z
newfont W T Z N N N
setfont W F
getfont W
setfontcolor W N
setbackcolor W N
destroywindow W
showwindow W N
registerclass T Q
unregisterclass T
setuserdata W N
getuserdata W
inherited W N N N
getclientrect W B
centerform W
setwndproc W Q
newmenu W T N
newbutton W N N N
newsubmenu M N T N
newmenuitem M N T N
menucaption M N
mainmenu W
newmainmenu W
createacceltable W L
newcontrol N T Q T N W Z Z Z Z
getselstart W
setselstart W Z
getsellength W
setsellength W Z
getseltext W
setseltext W T
gettext W
settext W T
gettextline W Z
wgetseltext W
wsetseltext W T
wgettext W
wsettext W T
wgettextline W Z
getitemindex W
setitemindex W Z
getitem W Z
setitem W Z T
wgetitem W Z
wsetitem W Z T
waitforinput N
g_init W Q Z Z N N N N
g_changeresolution Z Z N N
g_shut N
g_suspend
g_resume
g_state
g_setstate N
g_setmainloop N
g_getmainloop
g_fillrect Z Z Z Z N
g_drawrect Z Z Z Z N
g_circle Z Z Z N
g_floodfill Z Z N N N
g_line Z Z Z Z N
g_clear N
showfps N N
g_textout V T N Z Z N
g_textoutex V T Z Z Z Z N N
g_setpixel Z Z N
g_getpixel Z Z
g_setclipping Z Z Z Z
g_width
g_height
g_lock U
g_unlock K U N
g_getdc U
g_releasedc U N
g_beginscene
g_update
g_updaterect Z Z Z Z
g_draw
g_drawfps
g_updatefps
g_speed N
g_autodraw N
g_mainloop N
g_mainloop2 N
g_setproc Q
g_setpaintproc Q
g_fonts Z
g_loadfont T Z N N N
g_freefont G *
g_loadvgafont T Z Z
g_freevgafont V
g_drawtextex G T Z Z Z Z N
g_drawtext G T Z Z
g_textwidth G T
g_fontheight G
g_setblend N
g_cachetext G T Z Z
rendersprites
renderspritesex Z Z Z Z
rendersprite S
loadsprite T N Z N Q
loadspritefrommem B Z N Z N Q
loadspritealpha S T
loadspritealphafrommem S B Z
setspritealphasurface S U
spritealphasurface S
replacesprite S T N Z N Q
setspritesurface S U Z N
setspritecolormask S N
spritecolormask S
delsprite S
drawsprite S U Z Z N N N
movesprite S Z Z
relmovesprite S Z Z
processsprites N N
spritepos S Y Y
setspritex S Z
setspritey S Z
spritex S
spritey S
showsprite S N
spritevisible S
setspriteangle S N
spriteangle S
setspritealpha S N
spritealpha S
setspritewidth S Z
spritewidth S
setspriteheight S Z
spriteheight S
setspriteorder S N
spriteorder S
sprites L N
spriteat Z Z N
spriteatrect Z Z Z Z N
spritesat Z Z N L
spritesatrect Z Z Z Z N L
clearsprites
setmapcolor N
setspriteindex S Z
spriteindex S
setspriteanimspeed S N
setspriteanimspeedvel S N
setspritelifetime S N
setspriteframes S Z Z N N
spritefirstframe S
spritelastframe S
setspriteframeloop S N
setspritecurrentloop S N
setspriteproc S Q
spriteproc S
setspritedata S N
spritedata S
setspritecollide S T
spritecollide S
setspriteid S T
spriteid S
setoriginx Z
setoriginy Z
spriteinview S
spritesurface S
clonesprite S
setspriteoffsetx S Z
setspriteoffsety S Z
newsprite Q
setspritelayer S N
setspriteparent S S
spriteparent S
clearspritechildren S
spritechildren S L
spritelayer S
setspriteclip S Z Z Z Z
setlayer N N N N N N N N N N N
setborder Z Z Z Z
collide S Z Z Y Y
rectcollide S Z Z Z Z Y Y
collides S Z Z L
rectcollides S Z Z Z Z L
setspriterect S B
spriterect S
setspritecolliderect S Z Z Z Z
setspriteoptions S N
addspriteoption S N
delspriteoption S N
offsetsprite S Z Z
setspritetilex S Z
setspritetiley S Z
setspriteautooffsetx S N
setspriteautoscrollx S N
setspriteaispeed S N
calcpixelcheck S
setbacksprite S
drawbacksprite
delsprites T
setspritemap S N
delmapsprites N
setspritealtindex S Z
setspritealtalpha S N
setspritealtradius S Z
spritecanmovex S
spritecanmovey S
setaispeed N N N
adjustspriterect S
gamecollide N
setcollisiongrid Z Z Z
setgridcells N Z Z Z Z
cleargridcells Z Z Z Z
delgridcells N Z Z Z Z
setspritetimer S N N N
killspritetimer S N
pausespritetimer S N N
spritetimer S N
spriteframecount S
setspriteframecount S Z
spritedefaultwidth S
scalesprite S N
setspritecolor S N
setmaplight N
setspritetint S N
setspritetintlevel S N
setspritelight S N
setspritelightradius S Z
issprite S
flushsprites
setspriteisoheight S Z
setisodisplay N
drawgrid Z Z N N
g_drawlist L N
explode S Z Z L
setspritemass S N
setspritephysic S N N N N
setspritedirection S N N
setspritevelocity S N
setspritevelx S N
setspritevellimits S N N
newparticle N S Z Z N N N N Z N N N N
renderparticles N
processparticles N
clearparticles N
countparticles N
particles L N
setparticle P Z Z N N Z
setparticlecollide P N
delparticle P
particlex P
setparticlex P Z
setparticlevely P N
setparticlemaxcycle P Z
setparticleindex P Z
setparticlesprite P S
setparticlealpha P N
setparticleoptions P N
particleoptions P
gameparticles N N
newpath S Z Z Z N
setpath A Z Z Z N
delpath A
clearpaths
paths L
renderpaths
newsurface Z Z
freesurface U *
setrendertarget U
loadsurface T N
loadsurfacefrommem B Z N
savesurface U T
drawsurfaceex U U Z Z Z Z Z Z Z Z N N N N N N N N N N N N N N
drawsurface U U Z Z Z Z
drawsurface2 U U Z Z Z Z Z Z Z Z U
drawsurface3 U U Z Z Z Z Z Z Z Z N U
surfacewidth U
surfaceheight U
setcolormask U N
colormask U
copysurface U U
clonesurface U
resizesurface U Z Z
toiso Z Z Z Z Y Y
adjustxy Y Y Z Z N
CreateCOMObject T
FreeCOMObject C *
QueryInterface C T
CreateCOMObjectFrom C
GetProperty C T *
SetProperty C T N *
Invoke C T *
Dispatch C
COMMethods C L
COMProperties C L
COMInfo C T Y L
COMObjects L N
ActiveX W T Z Z Z Z Q
FreeActiveX X *
SetActiveXPos X Z Z Z Z
ActiveXObject X
ActiveXEvents X
ActiveXWnd X
ActiveXDraw X
VariantType N
SafeArray N *
"""

HANDLE_KINDS = "WMFSPAUGVCXK"

# Edge sizes and numbers: the extremes of 16 and 32 bits, one past them, and huge ones.
EDGE_NUMBERS = ["0", "-1", "1", "65535", "65536", "2147483647", "-2147483648", "4294967296",
                "1e18", "-1e18", "1e308", "0.5", "-0.5", "32767", "-32768"]
TEXTS = ['""', '"x"', '"strip.bmp"', '"nosuch.bmp"', '"ZrkTest.Calculator"', '"Add"', '"Name"',
         '"EDIT"', '"BUTTON"', '"LISTBOX"', '"FuzzClass"', '"%s%n%d"', '"a,b,c"',
         '"\\\\"', '"C:\\\\nosuch\\\\x"']


def table_arities(table_source):
    """{name: (variadic, parameter count, gives a value)} from the built-in table's source."""
    arities = {}
    for match in re.finditer(r'\{"([^"]+)", (kFixed|kVariadic|kVariadicSaved), (\d+), (\d+), (true|false)\}',
                             table_source):
        arities[match.group(1)] = (match.group(2) != "kFixed", int(match.group(3)), match.group(4) != "0")
    return arities


def signatures(table_source):
    """[(name, kinds, variadic, gives a value)] of the built-ins above, checked against the table: a name
    missing from it or with another parameter count is an error of this list."""
    entries = []
    for line in SIGNATURES.strip().splitlines():
        words = line.split()
        variadic = words[-1] == "*"
        entries.append((words[0], [word for word in words[1:] if word != "*"], variadic, variadic))
    return checked_against_table(entries, table_source)


def checked_against_table(entries, table_source):
    """(found, wrong) of entries (name, kinds, extra, variadic): found holds (name, kinds, extra,
    gives a value) of those whose parameter count the built-in table agrees with."""
    arities = table_arities(table_source)
    found, wrong = [], []
    for name, kinds, extra, variadic in entries:
        if name not in arities:
            wrong.append("%s: not a built-in" % name)
            continue
        table_variadic, count, gives_value = arities[name]
        if variadic != table_variadic or (not variadic and count != len(kinds)):
            wrong.append("%s: %s parameters here, %s in the table" %
                         (name, len(kinds), "any" if table_variadic else count))
            continue
        found.append((name, kinds, extra, gives_value))
    return found, wrong


# The handles a script keeps, per kind: live ones, one freed, and how each is made and
# freed. Names are GLOBAL variables of the script; each procedure declares them all.
LIVE = {"W": ["form%", "dlg%", "edit%", "list%"], "M": ["menu%", "sub%"], "F": ["wfont%"],
        "S": ["spr1%", "spr2%", "spr3%"], "P": ["part1%", "part2%"], "A": ["path1%"],
        "U": ["surf1%", "surf2%"], "G": ["gfont%"], "V": ["vfont%"], "C": ["com1%"], "X": ["ax1%"],
        "K": ["lock1%"]}
FREED = {"W": "gonewin%", "S": "gonespr%", "P": "gonepart%", "A": "gonepath%", "U": "gonesurf%",
         "G": "gonegfont%", "V": "gonevfont%", "C": "gonecom%", "M": "gonemenu%", "F": "gonewfont%",
         "X": "goneax%", "K": "0"}
OTHER = ["blk%", "lst%", "r1%", "r2%", "depth%", "cases%"]


def all_globals():
    names = [name for names in LIVE.values() for name in names]
    names += [name for name in FREED.values() if name != "0"] + OTHER
    return names


# The built-ins that free a handle of each kind, left out for a kind that is trusted.
FREEING = {"U": ("freesurface", "resizesurface"), "G": ("g_freefont",), "V": ("g_freevgafont",), "S": ("delsprite", "clearsprites"),
           "C": ("FreeCOMObject",), "X": ("FreeActiveX",), "W": ("destroywindow",), "K": ("g_unlock",)}


def freeing_names(trusted):
    return {name for kind in trusted for name in FREEING.get(kind, ())}


class CallGenerator:
    """Random calls. Handles of a trusted kind are always live ones, and nothing frees them:
    a pass can look past a known fault of those handles."""

    def __init__(self, rng, builtins, trusted=""):
        self.rng = rng
        self.trusted = trusted
        dropped = freeing_names(trusted)
        self.builtins = [entry for entry in builtins if entry[0] not in dropped]

    def number(self):
        if self.rng.random() < 0.5:
            return self.rng.choice(EDGE_NUMBERS)
        return str(self.rng.randint(0, 100))

    def size(self):
        if self.rng.random() < 0.45:
            return self.rng.choice(EDGE_NUMBERS)
        return str(self.rng.choice((1, 2, 8, 16, 32, 64, 100, 240, 320)))

    def handle(self, kind, first):
        """A handle of the kind, or 0, -1, a freed one, another kind's or an edge number."""
        roll = self.rng.random()
        if kind in self.trusted:
            return self.rng.choice(LIVE[kind])
        if roll < (0.45 if first else 0.7):
            return self.rng.choice(LIVE[kind])
        if roll < 0.55 if first else roll < 0.76:
            return self.rng.choice(("0", "-1"))
        if roll < 0.7 if first else roll < 0.84:
            return FREED[kind]
        if roll < 0.93:
            other = self.rng.choice([k for k in HANDLE_KINDS if k != kind])
            return self.rng.choice(LIVE[other] + [FREED[other]])
        return self.rng.choice(EDGE_NUMBERS)

    def value(self, kind, first=False):
        if kind in HANDLE_KINDS:
            return self.handle(kind, first)
        if kind == "N":
            return self.number()
        if kind == "Z":
            return self.size()
        if kind == "T":
            if self.rng.random() < 0.05:
                return '"' + "w" * self.rng.choice((255, 256, 1024, 70000)) + '"'
            return self.rng.choice(TEXTS)
        if kind == "Q":
            return self.rng.choice(("&ev_sprite", "&ev_particle", "&ev_form", "&ev_game", "&ev_sprite",
                                    "&ev_form", "&ev_activex", "0"))
        if kind == "L":
            return "lst%"
        if kind == "Y":
            return self.rng.choice(("r1%", "r2%"))
        if kind == "B":
            return self.rng.choice(("blk%", "blk%", "0"))
        raise ValueError(kind)

    def call(self, pool=None):
        """One call statement, its result kept when it gives one."""
        name, kinds, variadic, gives_value = self.rng.choice(pool or self.builtins)
        args = [self.value(kind, index == 0) for index, kind in enumerate(kinds)]
        if variadic:
            args += [self.rng.choice((self.value(kinds[0]) if kinds else "0", self.number(), '"x"'))
                     for _ in range(self.rng.randint(0, 3))]
        text = "%s(%s);" % (name, ", ".join(args))
        if gives_value and self.rng.random() < 0.6:
            text = "r1% = " + text
        return text

    def calls_on(self, letters, count):
        pool = [entry for entry in self.builtins if entry[1] and entry[1][0] in letters] or self.builtins
        return [self.call(pool) for _ in range(count)]


# What an event procedure may do to the things the runtime is walking when it calls it.
DESTROYERS = {
    "sprite": ["clearsprites();", "flushsprites();", "delsprite(sprite%);", "delsprite(spr1%);",
               "delsprite(spr2%);", "r1% = delsprites(\"\");", "setspriteparent(spr1%, sprite%);",
               "setspriteparent(sprite%, spr2%);", "clearspritechildren(sprite%);",
               "spr3% = clonesprite(sprite%);", "spr3% = newsprite(&ev_sprite);", "clearparticles(0);",
               "g_shut(0);", "delpath(path1%);", "clearpaths();", "freesurface(surf1%);",
               "replacesprite(sprite%, \"nosuch.bmp\", -1, 1, 0, &ev_sprite);", "processsprites(1, 1);"],
    "particle": ["clearparticles(0);", "clearparticles(-1);", "delparticle(particle%);", "delparticle(part1%);",
                 "part2% = newparticle(0, spr1%, 1, 1, 0, 0, 1, 1, 3, 0, 255, 0, 69632);",
                 "processparticles(1);", "clearsprites();", "flushsprites();", "g_shut(0);"],
    "form": ["destroywindow(window%);", "destroywindow(form%);", "destroywindow(edit%);", "CLEAREVENTS(window%);",
             "setwndproc(window%, 0);", "g_mainloop(20);", "EXIT;", "r1% = showmodal(dlg%, 0, 0);",
             "g_init(window%, &ev_game, 64, 64, 0, 10, 100, 0);", "g_shut(0);", "unregisterclass(\"FuzzClass\");",
             "FreeActiveX(ax1%);", "processmessages();"],
    "game": ["g_shut(0);", "clearsprites();", "flushsprites();", "clearparticles(0);", "destroywindow(form%);",
             "freesurface(surf1%);", "setrendertarget(surf2%);", "EXIT;", "g_suspend();", "clearpaths();",
             "processsprites(1, 1);", "processparticles(1);"],
    "activex": ["FreeActiveX(site%);", "FreeActiveX(ax1%);", "destroywindow(window%);", "destroywindow(form%);",
                "FreeCOMObject(com1%);", "EXIT;", "r1% = Invoke(ActiveXObject(site%), \"FireEvent\", 9);"],
}

EVENT_PROCEDURES = {  # name, parameter names, the value that passes the event on
    "sprite": ("ev_sprite", "sprite%, message%, value1%, value2%", 0),
    "particle": ("ev_particle", "window%, message%, particle%, other%", 1),
    "form": ("ev_form", "window%, message%, wparam%, lparam%", 1),
    "game": ("ev_game", "window%, message%, value1%, value2%", 1),
    "activex": ("ev_activex", "window%, message%, first%, second%, site%", 0),
}


def destroyer(gen, kind):
    dropped = freeing_names(gen.trusted)
    return gen.rng.choice([line for line in DESTROYERS[kind] if line.split("(")[0].split()[-1] not in dropped])


def event_procedure(gen, kind, globals_line):
    """A procedure for events of the kind: most calls do nothing, some destroy things; a
    depth count keeps events raised inside it from recursing for ever."""
    name, parameters, result = EVENT_PROCEDURES[kind]
    lines = ["func %s(%s)" % (name, parameters), "  " + globals_line,
             "  if (depth% > 2)", "    return(%d);" % result, "  end;", "  depth% = depth% + 1;"]
    for _ in range(gen.rng.randint(0, 3)):
        message = gen.rng.choice(("2", "1", "15", "275", "1029", "1030", "513", "256", "273", "16", "5"))
        lines.append("  if (message%% == %s)" % message)
        for _ in range(gen.rng.randint(1, 3)):
            if gen.rng.random() < 0.75:
                lines.append("    " + destroyer(gen, kind))
            else:
                lines.append("    " + gen.call())
        lines.append("  end;")
    if gen.rng.random() < 0.3:
        lines.append("  " + destroyer(gen, kind))
    lines += ["  depth% = depth% - 1;", "  return(%d);" % result, "end;", ""]
    return lines


SETUP = """
  RegisterDLL("comtestserver.dll");
  blk% = malloc(256);
  form% = newform("Fuzz", "FuzzForm", &ev_form);
  registerclass("FuzzClass", &ev_form);
  edit% = newcontrol(10, "EDIT", &ev_form, "text", 0, form%, 0, 0, 100, 20);
  list% = newcontrol(11, "LISTBOX", 0, "", 0, form%, 0, 30, 100, 60);
  dlg% = newdlg("Dlg", "FuzzDlg", &ev_form, 120, 80);
  menu% = newmenu(form%, "File", 100);
  newmenuitem(menu%, -1, "Open", 101);
  sub% = newsubmenu(menu%, -1, "More", 0);
  newmenuitem(sub%, -1, "Deeper", 102);
  wfont% = newfont(form%, "Tahoma", 12, 1, 0, 0);
  gonewfont% = newfont(form%, "Tahoma", 9, 0, 0, 0);
  gonewin% = newcontrol(12, "BUTTON", 0, "gone", 0, form%, 0, 0, 10, 10);
  destroywindow(gonewin%);
  surf1% = newsurface(32, 24);
  surf2% = newsurface(16, 16);
  savesurface(surf2%, "strip");
  gonesurf% = newsurface(8, 8);
  freesurface(gonesurf%);
  spr1% = newsprite(&ev_sprite);
  spr2% = loadsprite("strip.bmp", -1, 2, 0, &ev_sprite);
  spr3% = newsprite(0);
  setspritewidth(spr1%, 8);
  setspriteheight(spr1%, 8);
  gonespr% = newsprite(0);
  delsprite(gonespr%);
  flushsprites();
  part1% = newparticle(0, 0, 5, 5, 0, 0, 1, 1, 4, 0, 255, 0, 69632);
  part2% = newparticle(1, spr3%, 5, 5, 0, 0, 1, 1, 4, 1, 255, 0, 65536);
  gonepart% = newparticle(0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 255, 0, 0);
  delparticle(gonepart%);
  processparticles(0);
  path1% = newpath(spr1%, 20, 20, 1, 8);
  gonepath% = newpath(spr3%, 5, 5, 1, 4);
  delpath(gonepath%);
  gfont% = g_loadfont("Tahoma", 10, 65535, 0, 0);
  gonegfont% = g_loadfont("Tahoma", 8, 0, 0, 0);
  g_freefont(gonegfont%);
  vfont% = g_loadvgafont("Vgarom.fnt", 8, 8);
  com1% = CreateCOMObject("ZrkTest.Calculator");
  gonecom% = CreateCOMObject("ZrkTest.Calculator");
  FreeCOMObject(gonecom%);
  RegisterDLL("comtestcontrol.dll");
  ax1% = ActiveX(form%, "ZrkTest.Control", 0, 0, 40, 40, &ev_activex);
  goneax% = ActiveX(0, "ZrkTest.Control", 0, 0, 20, 20, &ev_activex);
  FreeActiveX(goneax%);
  ADDEVENT(form%, 273, 0, &ev_form);
  ADDEVENT(0, 1029, 0, &ev_particle);
  ADDEVENT(0, 1030, 0, &ev_particle);
"""

# Lines that bring the events about: a game display and its loop, passes over sprites and
# particles, message pumping; run after the random calls.
DRIVERS = [
    "g_init(form%, &ev_game, 64, 48, 0, 10, 100, 0);",
    "g_mainloop(30);",
    "g_mainloop2(30);",
    "processsprites(1, 1);",
    "processparticles(1);",
    "processparticles(0);",
    "rendersprites();",
    "renderparticles(0);",
    "r1% = flushsprites();",
    "processmessages();",
    "r1% = waitforinput(20);",
    "clearsprites();",
    "destroywindow(form%);",
    "r1% = showmodal(dlg%, 0, 0);",
    "r1% = createthread(0, &ev_thread, 0, 0, 0);",
]

TIMELINE_COMMANDS = ["tap 20 40", "tap 100 200", "key a", "key enter", "key escape", "menu 101", "menu 102",
                     "menu 1", "ok", "close", "close", 'text "hi"', "drag 10 10 60 60 50", "key left"]


def make_case(rng, builtins, calls, trusted=""):
    """(script, timeline) of one generated case with about calls random calls."""
    gen = CallGenerator(rng, builtins, trusted)
    globals_line = "GLOBAL(%s);" % ", ".join(all_globals())
    lines = ["// A generated call case.", ""]
    for kind in EVENT_PROCEDURES:
        lines += event_procedure(gen, kind, globals_line)
    # A script thread that outlives what it uses (perhaps its program: the run may end).
    lines += ["func ev_thread(unused%)", "  " + globals_line, "  delay(%d);" % rng.choice((0, 5, 50)),
              "  " + gen.call(), "  " + gen.call(), "  return(0);", "end;", ""]
    lines += ["func winmain(unused%)", "  " + globals_line, "  depth% = 0;", "  list(lst%);"]
    guarded = rng.random() < 0.85  # inside TRY a run-time error sets ERROR% and goes on
    indent = "    " if guarded else "  "
    if guarded:
        lines.append("  try")
    lines += [indent + line.strip() for line in SETUP.strip().splitlines()]
    if rng.random() < 0.3:
        lines.append(indent + "g_init(form%, &ev_game, 64, 48, 0, 10, 100, 0);")
    if rng.random() < 0.3:
        lines.append(indent + "lock1% = g_lock(surf1%);")
    for _ in range(calls):
        if rng.random() < 0.12:
            lines.append(indent + rng.choice([line for line in DRIVERS if line.split("(")[0].split()[-1]
                                              not in freeing_names(trusted)]))
        else:
            lines.append(indent + gen.call())
    for _ in range(rng.randint(0, 3)):
        lines.append(indent + rng.choice([line for line in DRIVERS if line.split("(")[0].split()[-1]
                                          not in freeing_names(trusted)]))
    if guarded:
        lines += ["  except", "    r2% = 1;", "  end;"]
    lines += ["end;", ""]
    times = sorted(rng.sample(range(10, 2000, 10), rng.randint(0, 5)))
    timeline = ["%d %s" % (t, rng.choice(TIMELINE_COMMANDS)) for t in times] + ["3000 end"]
    return "\n".join(lines), "\n".join(timeline) + "\n"
