#!/usr/bin/env python3
"""Writes corpus.tsv, the demo service's made-up share links.

Run once; the output is committed. The same seed always gives the same file,
so the counts the tests rely on stay put. Columns: title, share link, size,
date (UTF-8, tab separated, one entry a line).
"""
import random
import sys

SUBJECTS = [
    ("高等数学", "教材"), ("线性代数", "讲义"), ("大学物理", "习题"), ("有机化学", "笔记"),
    ("英语四级", "真题"), ("英语六级", "词汇"), ("Python", "教程"), ("Linux", "命令手册"),
    ("C++ Primer", "练习"), ("Java", "入门"), ("数据结构", "课件"), ("算法导论", "答案"),
    ("Rust", "实战"), ("Go", "并发编程"), ("机器学习", "公开课"), ("计算机网络", "复习资料"),
    ("操作系统", "实验"), ("数据库", "设计"), ("摄影", "后期教程"), ("风景", "壁纸合集"),
    ("古典音乐", "精选"), ("家常菜", "菜谱"), ("烘焙", "入门指南"), ("旅行", "攻略"),
    ("围棋", "棋谱"), ("书法", "字帖"), ("素描", "基础"), ("吉他", "曲谱"),
    ("Blender", "modeling course"), ("Photoshop", "brushes"), ("Vim", "cheat sheet"),
    ("Git", "handbook"), ("Docker", "tutorial"), ("Kubernetes", "notes"),
    ("Open Data", "city maps"), ("Public Domain", "audiobooks"), ("Night Sky", "photos"),
    ("Garden", "planting calendar"), ("Chess", "openings"), ("Typing", "practice"),
]
EXTRAS = ["", "第二版", "第三版", "高清", "完整版", "2019", "2020", "2021", "2022", "2023",
          "PDF", "EPUB", "MP4", "合集", "精讲", "part 1", "part 2", "全套", "附源码", "Vol.1"]
FORMATS = ["pdf", "zip", "rar", "mp4", "epub", "7z", "mkv", "mp3"]
ALPHABET = "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789"


def main(path):
    rng = random.Random(20240611)
    seen = set()
    rows = []
    while len(rows) < 320:
        subject, kind = rng.choice(SUBJECTS)
        extra = rng.choice(EXTRAS)
        title = " ".join(part for part in (subject, kind, extra) if part)
        title += "." + rng.choice(FORMATS)
        if title in seen:
            continue
        seen.add(title)
        code = "".join(rng.choice(ALPHABET) for _ in range(8))
        link = "https://pan.example.com/s/" + code
        size_kb = rng.randint(80, 4_000_000)
        if size_kb >= 1024 * 1024:
            size = f"{size_kb / 1024 / 1024:.2f} GB"
        elif size_kb >= 1024:
            size = f"{size_kb / 1024:.1f} MB"
        else:
            size = f"{size_kb} KB"
        date = f"{rng.randint(2015, 2023)}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
        rows.append((title, link, size, date))
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write("# title\tlink\tsize\tdate (made-up entries for the demo service)\n")
        for row in rows:
            out.write("\t".join(row) + "\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "corpus.tsv")
