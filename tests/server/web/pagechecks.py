"""What every page passes in the browser: axe-core, and a phone's screen."""
import os

here = os.path.dirname(os.path.abspath(__file__))
AXE = next((p for p in (os.path.join(here, "../../../build/npm/node_modules/axe-core/axe.min.js"),
                        "/usr/local/lib/node_modules/axe-core/axe.min.js",
                        "/usr/lib/node_modules/axe-core/axe.min.js") if os.path.exists(p)), None)
assert AXE, "axe-core is missing: run scripts/install-deps"

# Every button, checkbox (with its label), link and summary in sight is a
# target of at least 44 x 44 CSS px; nothing is wider than the screen.
PHONE_CHECK = """
const small = [];
for (const e of document.querySelectorAll('button, a, summary, select, input[type=checkbox]')) {
  const t = e.type === 'checkbox' ? e.closest('label') : e;
  const r = t.getBoundingClientRect();
  if (t.offsetParent !== null && (r.width < 44 || r.height < 44))
    small.push((e.id || e.textContent.trim() || e.outerHTML.slice(0, 40)) + ' ' + r.width + 'x' + r.height);
}
return [document.documentElement.scrollWidth, small];
"""


def axe_clean(browser, view, impacts=None):
    """No violation of axe-core's rules, of the given impacts (all if none)."""
    browser.execute_script(open(AXE, encoding="utf-8").read())
    found = browser.execute_async_script(
        "const done = arguments[arguments.length - 1], impacts = arguments[0];"
        "axe.run(document).then((r) => done(r.violations"
        "  .filter((v) => !impacts || impacts.includes(v.impact))"
        "  .map((v) => v.impact + ' ' + v.id + ' ' + v.nodes.map((n) => n.target.join(' ')).join(', '))));",
        impacts)
    assert not found, f"axe-core on the {view} view: {found}"


def phone_ok(browser, view):
    """On a 375 px screen: nothing scrolls sideways, every target 44 px."""
    width, small = browser.execute_script(PHONE_CHECK)
    assert width <= 375, f"the {view} view is {width} px wide on a 375 px screen"
    assert not small, f"targets under 44 px in the {view} view: {small}"


def retype(element, text):
    """The field's text replaced by `text`, typed."""
    element.clear()
    element.send_keys(text)


def chromium():
    """Headless Chromium through chromium-driver, 1100 x 1000 px."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1100,1000"):
        options.add_argument(a)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    browser.set_script_timeout(60)
    return browser
