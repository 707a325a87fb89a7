#!/usr/bin/env python3
"""Writes seeded look-alikes of three well-known JSON test files into a folder:

canada.json   a GeoJSON feature whose polygon holds 111,000 numbers (in pairs)
              of 15 to 17 significant digits, without blanks (about 2.2 MB);
citm_catalog.json  maps keyed by numbers holding integers, nulls and short
              texts, indented by four blanks as the real file is, which makes
              about 70% of it whitespace (about 1.7 MB);
twitter.json  100 statuses with their users, non-ASCII text written as UTF-8
              (no \\u escapes, as in the real file) and escaped quotes and
              line ends, indented by two blanks (about 0.63 MB).

The same seed gives the same bytes. Usage: json_lookalikes.py FOLDER
"""
import json
import os
import random
import sys


def canada(rnd):
    ring = []
    for _ in range(55500):
        lon = -141.0 + rnd.random() * 89.0
        lat = 41.0 + rnd.random() * 42.0
        ring.append([float("%.*g" % (rnd.randint(15, 17), lon)), float("%.*g" % (rnd.randint(15, 17), lat))])
    doc = {"type": "FeatureCollection", "features": [
        {"type": "Feature", "properties": {"name": "Canada"},
         "geometry": {"type": "Polygon", "coordinates": [ring[i:i + 1000] for i in range(0, len(ring), 1000)]}}]}
    return json.dumps(doc, separators=(",", ":"))


def citm(rnd):
    words = ["Concert", "Opera", "Ballet", "Symphonie", "Quatuor", "Récital", "Jazz", "Théâtre"]
    events = {}
    for i in range(184):
        key = str(138586341 + i * 17)
        events[key] = {
            "description": None, "id": int(key), "logo": None if rnd.random() < 0.7 else "/images/%d.jpg" % i,
            "name": "%s %d" % (rnd.choice(words), i), "subTopicIds": [rnd.randint(337184000, 337185000) for _ in range(rnd.randint(1, 4))],
            "subjectCode": None, "subtitle": None, "topicIds": [rnd.randint(324846000, 324847000) for _ in range(rnd.randint(1, 3))]}
    performances = []
    for i in range(243):
        categories = rnd.randint(1, 6)
        performances.append({
            "eventId": 138586341 + rnd.randint(0, 183) * 17, "id": 339887544 + i, "logo": None, "name": None,
            "prices": [{"amount": rnd.randint(9, 200) * 50, "audienceSubCategoryId": 337100890, "seatCategoryId": 338937295 + k}
                       for k in range(categories)],
            "seatCategories": [{"areas": [{"areaId": 205705999 + a, "blockIds": []} for a in range(rnd.randint(4, 15))],
                                "seatCategoryId": 338937295 + k} for k in range(categories)],
            "seatMapImage": None, "start": 1372354200000 + i * 86400000, "venueCode": "PLEYEL_PLEYEL"})
    doc = {"areaNames": {str(205705993 + i): "Zone %d" % i for i in range(20)},
           "audienceSubCategoryNames": {"337100890": "Abonné"}, "blockNames": {}, "events": events,
           "performances": performances, "seatCategoryNames": {str(338937295 + i): "Catégorie %d" % i for i in range(60)},
           "subTopicNames": {str(337184262 + i): "Sujet %d" % i for i in range(20)}, "subjectNames": {},
           "topicNames": {str(107888604 + i): "Thème %d" % i for i in range(20)},
           "topicSubTopics": {str(324846099 + i): [337184269 + i, 337184283 + i] for i in range(20)},
           "venueNames": {"PLEYEL_PLEYEL": "Salle Pleyel"}}
    return json.dumps(doc, indent=4, ensure_ascii=False)


def twitter(rnd):
    texts = ["@aym0566x \n\n名前:前田あゆみ\n第一印象:なんか怖っ！", "RT @KATANA77: えっそれは・・・（一同） http://t.co/PkCJAcSuYK",
             "Hello 👋 world, café crème déjà vu", "「悪い男」みたいな\"quoted\" text\twith tab"]
    statuses = []
    for i in range(100):
        padding = rnd.choice(texts) * 20
        user = {"id": 1186275104 + i, "id_str": str(1186275104 + i), "name": "ユーザー%d" % i, "screen_name": "user_%d" % i,
                "location": "東京", "description": rnd.choice(texts) * 14, "url": None,
                "entities": {"description": {"urls": []}}, "protected": False, "followers_count": rnd.randint(0, 9999),
                "friends_count": rnd.randint(0, 999), "listed_count": 0, "created_at": "Mon Sep 16 15:06:53 +0000 2013",
                "favourites_count": rnd.randint(0, 99), "utc_offset": None, "time_zone": None, "geo_enabled": False,
                "verified": False, "statuses_count": rnd.randint(0, 999), "lang": "ja", "contributors_enabled": False, "profile_text": padding,
                "is_translator": False, "profile_background_color": "C0DEED",
                "profile_image_url": "http://pbs.twimg.com/profile_images/%d/normal.jpeg" % i,
                "profile_use_background_image": True, "default_profile": True, "following": False,
                "follow_request_sent": False, "notifications": False}
        statuses.append({"metadata": {"result_type": "recent", "iso_language_code": "ja"},
                         "created_at": "Sun Aug 31 00:29:15 +0000 2014", "id": 505874924095815681 + i,
                         "id_str": str(505874924095815681 + i), "text": rnd.choice(texts),
                         "source": "<a href=\"http://twitter.com/download/iphone\" rel=\"nofollow\">Twitter for iPhone</a>",
                         "truncated": False, "in_reply_to_status_id": None, "user": user, "geo": None,
                         "retweet_count": rnd.randint(0, 99), "favorite_count": 0,
                         "entities": {"hashtags": [], "symbols": [], "urls": [], "user_mentions": []},
                         "favorited": False, "retweeted": False, "lang": "ja"})
        if i % 2 == 0:
            statuses[-1]["retweeted_status"] = dict(statuses[-1], text=rnd.choice(texts) * 3, user=dict(user, description=rnd.choice(texts) * 14))
    return json.dumps({"statuses": statuses, "search_metadata": {"count": 100}}, indent=2, ensure_ascii=False)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(folder, exist_ok=True)
    for name, make in (("canada.json", canada), ("citm_catalog.json", citm), ("twitter.json", twitter)):
        path = os.path.join(folder, name)
        with open(path, "w", encoding="utf-8") as out:
            out.write(make(random.Random(name)))
        print("%s: %d bytes" % (path, os.path.getsize(path)))


if __name__ == "__main__":
    main()
