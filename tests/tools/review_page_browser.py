#!/usr/bin/python3
"""The review page in headless Chromium: groups, players, a name that is markup, the totals
and a save bar in reach, a keeper changed by keyboard (its keep line following), copies
with the same bytes marked, a copy marked not a duplicate, the plan saved and applied.
  review_page_browser.py TWINTONE OUT_DIR [--shoot PAGE PNG]  (--shoot: only a picture)
Exit 0 on success, 77 when no browser is installed (ctest reports a skip)."""
import json, os, shutil, subprocess, sys, tempfile, time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    sys.exit(77)

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--autoplay-policy=user-gesture-required"]


def browser(profile, downloads, width, height):
    if not os.path.exists("/usr/bin/chromedriver"):
        sys.exit(77)
    options = webdriver.ChromeOptions()
    for flag in FLAGS + [f"--user-data-dir={profile}", f"--window-size={width},{height}"]:
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def shoot(page, png, work):
    driver = browser(os.path.join(work, "profile"), work, 1100, 1400)
    try:
        driver.get("file://" + os.path.abspath(page))
        height = driver.execute_script("return document.body.scrollHeight")
        driver.set_window_size(1100, min(max(height + 40, 600), 2400))
        driver.save_screenshot(png)
    finally:
        driver.quit()


def tone(path, hz, title):
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    f"sine=frequency={hz}:duration=8", "-metadata", f"title={title}",
                    "-metadata", "artist=Tester", "-b:a", "64k", path], check=True)


def check(condition, message):
    assert condition, message


def main():
    twintone, out_dir = sys.argv[1], sys.argv[2]
    work = tempfile.mkdtemp(prefix="twintone-browser-")
    try:
        if len(sys.argv) == 6 and sys.argv[3] == "--shoot":
            return shoot(sys.argv[4], sys.argv[5], work) or 0
        lib, downloads = os.path.join(work, "lib"), os.path.join(work, "downloads")
        for folder in (os.path.join(lib, "A"), os.path.join(lib, "B"), downloads):
            os.makedirs(folder)
        # A name that is markup: it must show as text and never run.
        hostile = "<script>window.ran=1<.script> 100%.mp3"
        tone(os.path.join(lib, "A", "song.mp3"), 440, "Song")
        tone(os.path.join(lib, "B", hostile), 440, "Song")
        tone(os.path.join(lib, "A", "other.mp3"), 660, "Other")
        tone(os.path.join(lib, "B", "other.mp3"), 660, "Other")
        page = os.path.join(work, "review.html")
        told = subprocess.run([twintone, "-q", "-r", "--html", page, lib], check=True,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
        check(page in told and "--apply" in told, f"the run names the page and what next: {told}")

        driver = browser(os.path.join(work, "profile"), downloads, 420, 900)  # a narrow window
        try:
            driver.get("file://" + page)
            groups = driver.find_elements(By.CSS_SELECTOR, "section.group")
            check(len(groups) == 2, f"2 groups expected, saw {len(groups)}")
            players = [p.get_attribute("src") for p in driver.find_elements(By.TAG_NAME, "audio")]
            check(len(players) == 4 and all(p.startswith("file:///") for p in players), players)
            names = [n.text for n in driver.find_elements(By.CSS_SELECTOR, ".name")]
            check(any(name.endswith(hostile) for name in names), f"name shown as text: {names}")
            check(driver.execute_script("return window.ran === undefined"), "a name ran as script")
            widths = driver.execute_script(
                "return [document.documentElement.scrollWidth, window.innerWidth]")
            check(widths[0] <= widths[1], f"the page fits a narrow window: {widths}")
            totals = driver.find_element(By.ID, "totals").text
            check(totals.startswith("2 groups, 2 duplicates, "), f"totals first: {totals}")
            in_view = "const r = document.getElementById('save').getBoundingClientRect();" \
                      "return r.top >= 0 && r.bottom <= window.innerHeight;"
            driver.set_window_size(420, 400)  # far shorter than the page
            check(driver.execute_script("window.scrollTo(0, 0);" + in_view), "save bar in reach")
            driver.set_window_size(420, 900)
            # Every copy here has the bytes of its kept copy (one tone, one encoder).
            same = [n.text for n in driver.find_elements(By.CSS_SELECTOR, ".same") if n.text]
            check(len(same) == 2 and "Identical" in same[0], f"identical copies: {same}")

            # Keep the second copy of the group holding the hostile name, by keyboard.
            group = next(g for g in groups if hostile in g.text)
            radios = group.find_elements(By.CSS_SELECTOR, "input[type=radio]")
            check(radios[0].is_selected(), "the first copy is kept by default")
            radios[0].send_keys(Keys.ARROW_DOWN)
            check(radios[1].is_selected(), "arrow keys move the keeper")
            reason = group.find_element(By.CSS_SELECTOR, ".reason").text
            check(reason == "kept: your choice in the review", f"keep line: {reason}")
            # In the other group, the second copy is not a duplicate: it stays.
            other_group = next(g for g in groups if hostile not in g.text)
            other_group.find_elements(By.CSS_SELECTOR, "input[id^=distinct-]")[1].click()
            driver.save_screenshot(os.path.join(out_dir, "review-page-test.png"))
            driver.find_element(By.ID, "save").send_keys(Keys.ENTER)
            plan_text = driver.find_element(By.ID, "plan").get_attribute("value")
        finally:
            driver.quit()

        plan_path = os.path.join(work, "plan.json")
        with open(plan_path, "w") as f:
            f.write(plan_text)
        roles = [m["role"] for g in json.loads(plan_text)["groups"] for m in g["members"]]
        check(sorted(roles) == ["distinct", "duplicate", "keep", "keep"], f"roles {roles}")
        downloaded = os.path.join(downloads, "twintone-plan.json")
        for _ in range(600):  # the download lands a moment later (later on a busy machine)
            if not os.path.exists(downloaded):
                time.sleep(0.1)
        check(os.path.exists(downloaded), "plan downloaded")

        moved, other = os.path.join(work, "moved"), os.path.join(lib, "A", "other.mp3")
        subprocess.run([twintone, "--apply", plan_path, "--move-duplicates", moved,
                        "--journal", os.path.join(work, "journal.jsonl")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # The chosen keeper and both copies of the other group stay; the duplicate moved.
        for path in (os.path.join(lib, "B", hostile), other, os.path.join(moved, "A", "song.mp3"),
                     os.path.join(lib, "B", "other.mp3")):
            check(os.path.exists(path), path)
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
