// The text box: the effects the ticked panels play, in the desktop's menus
// and words; while typing, what the panel will receive (the service's own
// conversion): its warnings, the count against the panel's limit, the
// LED preview.
import {$, api, el} from "./comum.js";
import {marcados, tiposMarcados} from "./paineis.js";

let menus = [];

export async function carregarEfeitos() {
  menus = await api("GET", "/api/efeitos");
  mostrarEfeitos();
}

export function mostrarEfeitos() {
  const tipos = tiposMarcados();
  const caixa = $("efeitos");
  caixa.replaceChildren();
  for (const m of menus) {
    const efeitos = m.efeitos.filter((e) => tipos.every((t) => e.tipos.includes(t)));
    if (efeitos.length === 0) continue;
    const botoes = efeitos.map((e) => {
      const b = el("button", e.legenda, {type: "button", title: e.tag});
      b.addEventListener("click", () => inserir(e.tag));
      return b;
    });
    const titulo = "grupo-" + m.menu;
    caixa.appendChild(el("div", [el("h3", m.menu, {id: titulo}), el("div", botoes, {class: "linha"})],
      {class: "grupo", role: "group", "aria-labelledby": titulo}));
  }
}

function inserir(efeito) {
  const t = $("texto");
  const a = t.selectionStart, b = t.selectionEnd;
  t.value = t.value.slice(0, a) + efeito + t.value.slice(b);
  t.selectionStart = t.selectionEnd = a + efeito.length;
  t.focus();
  atualizarTexto();
}

// The panel whose type the preview and the warnings follow.
const painelDaPrevia = () => marcados()[0] || "";

// An image URL stays short: the preview plays the first minute only. One
// refused while the service is busy drawing others is asked again, once, a
// second later, unless another has taken its place.
export function mostrarPrevia(parametros) {
  const img = $("previa");
  const url = "/api/previa?" + new URLSearchParams(Object.assign(
    {largura: $("largura").value, ate: "60", painel: painelDaPrevia()}, parametros));
  img.onerror = () => {
    img.onerror = null;
    const pedida = img.src;
    setTimeout(() => { if (img.src === pedida) img.src = url; }, 1000);
  };
  img.src = url;
}

let espera = null;
let pedido = 0;
export function atualizarTexto() {
  clearTimeout(espera);
  espera = setTimeout(async () => {
    const texto = $("texto").value;
    mostrarPrevia({texto: texto.slice(0, 1500) || " "});
    const meu = ++pedido;
    try {
      const r = await api("POST", "/api/previa", {texto, painel: painelDaPrevia()});
      if (meu !== pedido) return; // a later keystroke has its own answer coming
      // The desktop program's measure and words: encoded bytes of one send.
      const n = new Intl.NumberFormat("pt-BR");
      $("contagem").textContent = `${n.format(r.caracteres)} / ${n.format(r.limite)}` +
        (r.caracteres > r.limite ? ": não cabe no painel (o fim é cortado)" : "");
      $("avisos").replaceChildren(...r.avisos.map((a) => el("li", "Atenção: " + a)));
    } catch (e) { /* the session's end is said elsewhere */ }
  }, 250);
}
