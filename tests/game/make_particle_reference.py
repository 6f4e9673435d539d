#!/usr/bin/env python3
"""An emitter's particles simulated independently with numpy, for the particle tests.

Each case: its world (friction, gravity, time step, view origin), two image-less sprites
(size and colour; frames first..last, a new frame every pass), the particles emitted
before each pass (the arguments of newparticle), the state of every particle after the
last pass in list order (newest first), and the picture the particles make on a cleared
canvas when drawn as opaque boxes in list order ('.' empty, a digit: sprite index + 1).

Rules: velocity += acceleration; with option 1 friction is subtracted from both
components and gravity added to the vertical one; position += velocity * time step; the
age grows by one; a fading particle's alpha is trunc((max - cycle) / max * start alpha);
the frame advances each pass and wraps from the sprite's last frame to its first; at the
end of a life a looping particle goes back to its start position, velocity and alpha,
any other leaves the list.
"""
import sys

import numpy as np

CANVAS_WIDTH, CANVAS_HEIGHT = 160, 120
SPRITES = [  # width, height, colour (RGB565), first frame, last frame
    (3, 2, 0xF800, 0, 3),
    (2, 4, 0x07E0, 1, 2),
]


def emissions(case, pass_index):
    """newparticle arguments: system, sprite index, x, y, accx, accy, velx, vely,
    maxcycle, loop, alpha, randomstart, options."""
    rows = []
    for k in range(2):
        i = pass_index * 2 + k
        rows.append((
            1 + k,
            k,
            40.7 + 3 * (i % 7),
            90.2 - (i % 3),
            (i % 3 - 1) * 0.015625,
            0.03125 if k == 0 else -0.0078125,
            ((i % 5) - 2) * 0.75,
            -2.25 - (i % 4) * 0.5,
            12 + i % 9,
            1 if i % 4 == 0 else 0,
            -1 if case == "opaque" else 200 + i % 50,
            0,
            1 if i % 3 != 2 else 0,
        ))
    return rows


CASES = {
    # name: friction, gravity, time step, origin x, origin y, passes
    "fading": (0.046875, 0.0625, 0.75, 0.0, 0.0, 31),
    "opaque": (0.0234375, 0.09375, 1.0, 5.9, -3.2, 27),
}


def simulate(name):
    friction, gravity, time_step, origin_x, origin_y, passes = CASES[name]
    particles = []  # newest first; each a dict
    emitted = []
    for pass_index in range(passes):
        for row in emissions(name, pass_index):
            emitted.append((pass_index, row))
            (system, sprite, x, y, ax, ay, vx, vy, max_cycle, loop, alpha, _, options) = row
            x, y = float(int(x)), float(int(y))
            cycle = 0
            particles.insert(0, dict(system=system, sprite=sprite, x=x, y=y, sx=x, sy=y,
                                     vx=vx, vy=vy, svx=vx, svy=vy, ax=ax, ay=ay,
                                     cycle=cycle, max=max_cycle, loop=loop, salpha=alpha,
                                     alpha=-1 if alpha == -1 else int((max_cycle - cycle) / max_cycle * alpha),
                                     frame=0, options=options))
        survivors = []
        for p in particles:
            p["vx"] += p["ax"]
            p["vy"] += p["ay"]
            if p["options"] & 1:
                if friction != 0:
                    p["vx"] -= friction
                    p["vy"] -= friction
                if gravity != 0:
                    p["vy"] += gravity
            p["x"] += p["vx"] * time_step
            p["y"] += p["vy"] * time_step
            p["cycle"] += 1
            if p["salpha"] != -1:
                p["alpha"] = int((p["max"] - p["cycle"]) / p["max"] * p["salpha"])
            first, last = SPRITES[p["sprite"]][3:5]
            if p["cycle"] < p["max"]:
                p["frame"] += 1
                if p["frame"] > last:
                    p["frame"] = first
            elif p["loop"]:
                p.update(cycle=0, frame=first, x=p["sx"], y=p["sy"], vx=p["svx"], vy=p["svy"])
                if p["salpha"] != 0:
                    p["alpha"] = p["salpha"]
            else:
                continue
            survivors.append(p)
        particles = survivors

    canvas = np.zeros((CANVAS_HEIGHT, CANVAS_WIDTH), dtype=np.int32)
    for p in particles:
        width, height = SPRITES[p["sprite"]][0:2]
        left = int(p["x"]) - int(origin_x)
        top = int(p["y"]) - int(origin_y)
        x0, y0 = max(left, 0), max(top, 0)
        x1, y1 = min(left + width, CANVAS_WIDTH), min(top + height, CANVAS_HEIGHT)
        if x0 < x1 and y0 < y1:
            canvas[y0:y1, x0:x1] = p["sprite"] + 1
    return emitted, particles, canvas


def main():
    lines = []
    for index, (width, height, colour, first, last) in enumerate(SPRITES):
        lines.append(f"sprite {index} {width} {height} {colour} {first} {last}")
    for name, (friction, gravity, time_step, origin_x, origin_y, passes) in CASES.items():
        emitted, particles, canvas = simulate(name)
        lines.append(f"case {name} {friction!r} {gravity!r} {time_step!r} {origin_x!r} {origin_y!r} {passes}")
        for pass_index, row in emitted:
            lines.append("emit " + str(pass_index) + " " + " ".join(repr(v) for v in row))
        for p in particles:
            lines.append("particle " + " ".join(repr(v) for v in (
                p["system"], p["x"], p["y"], p["vx"], p["vy"], p["cycle"], p["alpha"], p["frame"])))
        for row in canvas:
            lines.append("row " + "".join("." if v == 0 else str(v) for v in row))
        lines.append("end")
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
