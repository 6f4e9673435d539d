#!/usr/bin/env python3
"""Path scenes with the reachability of their goal, decided by networkx.

A scene: the moving sprite's size, start and step, the goal, the allowed directions and
the walls (rectangles the sprite collides with). The graph holds the positions start +
step * (i, j) within a margin around everything, those whose box meets no wall; an
edge joins two positions one allowed move apart (only the destination is tested, as the
search does). The goal is reached at a position strictly within step of it on both axes.

Each line: name width height start_x start_y step goal_x goal_y reachable shortest
"directions" then the walls as left top right bottom groups.
"""
import sys

import networkx as nx

MOVES = {"nw": (-1, -1), "n": (0, -1), "ne": (1, -1), "e": (1, 0),
         "se": (1, 1), "s": (0, 1), "sw": (-1, 1), "w": (-1, 0)}

ALL = " nw n ne e se s sw w "
STRAIGHT = " n e s w "

SCENES = [
    # A wall between start and goal, open at both ends.
    ("around_a_wall", 8, 8, 0, 40, 8, 96, 40, ALL, [(40, 0, 48, 88)]),
    # Straight moves only, a wall with a gap at its bottom end.
    ("through_a_gap", 8, 8, 0, 0, 8, 80, 0, STRAIGHT, [(40, -64, 48, 56), (40, 72, 48, 200)]),
    # A U-shaped cup open away from the goal: the route leaves the cup first.
    ("out_of_a_cup", 8, 8, 24, 24, 8, 120, 24, ALL,
     [(0, 0, 8, 56), (48, 0, 56, 56), (0, 56, 56, 64)]),
    # The goal inside a closed ring.
    ("walled_in_goal", 8, 8, 0, 0, 8, 96, 0, ALL,
     [(64, -32, 72, 40), (120, -32, 128, 40), (64, -40, 128, -32), (64, 40, 128, 48)]),
    # Only east and north allowed, the goal lies to the west.
    ("excluded_by_directions", 8, 8, 0, 0, 8, -64, 0, " n e ", []),
]


def meets(box, wall):
    return box[0] < wall[2] and wall[0] < box[2] and box[1] < wall[3] and wall[1] < box[3]


def reachability(scene):
    name, width, height, sx, sy, step, gx, gy, directions, walls = scene
    xs = [sx, gx] + [w[0] for w in walls] + [w[2] for w in walls]
    ys = [sy, gy] + [w[1] for w in walls] + [w[3] for w in walls]
    margin = 6 * step
    i_range = range((min(xs) - margin - sx) // step, (max(xs) + margin - sx) // step + 1)
    j_range = range((min(ys) - margin - sy) // step, (max(ys) + margin - sy) // step + 1)
    moves = [MOVES[word] for word in MOVES if f" {word} " in directions]

    def free(i, j):
        x, y = sx + i * step, sy + j * step
        return not any(meets((x, y, x + width, y + height), wall) for wall in walls)

    graph = nx.DiGraph()
    for i in i_range:
        for j in j_range:
            if not free(i, j):
                continue
            graph.add_node((i, j))
            for di, dj in moves:
                if i + di in i_range and j + dj in j_range and free(i + di, j + dj):
                    graph.add_edge((i, j), (i + di, j + dj))
    goals = [n for n in graph.nodes
             if abs(sx + n[0] * step - gx) < step and abs(sy + n[1] * step - gy) < step]
    lengths = nx.single_source_shortest_path_length(graph, (0, 0))
    reached = [lengths[g] for g in goals if g in lengths]
    return (1, min(reached)) if reached else (0, -1)


def main():
    lines = []
    for scene in SCENES:
        name, width, height, sx, sy, step, gx, gy, directions, walls = scene
        reachable, shortest = reachability(scene)
        wall_text = " ".join(f"{w[0]} {w[1]} {w[2]} {w[3]}" for w in walls)
        lines.append(f"{name} {width} {height} {sx} {sy} {step} {gx} {gy} {reachable} {shortest} "
                     f"\"{directions}\" {wall_text}".rstrip())
    with open(sys.argv[1], "w") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
