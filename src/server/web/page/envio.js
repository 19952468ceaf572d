// Sending to the ticked panels: one click, one send. While a send is on
// its way every sending button is off, and each click carries a key of
// its own, so a repeat (a double click, a retry) is answered by the
// service with the first result and sends nothing again. Each panel's
// outcome comes with its time into a live region; focus goes back to
// the text box.
import {$, api, chaveNova, el, linhaResultado, motivoSimples, textoResultado} from "./comum.js";
import {carregarPaineis, lembrar, marcados} from "./paineis.js";

let emCurso = false;
let depois = () => {};
export const depoisDeEnviar = (f) => { depois = f; };

function bloquear(sim) {
  for (const b of document.querySelectorAll("button.envia")) b.disabled = sim;
}

function resultado(nome, r) {
  return r.ok ? linhaResultado(nome, true, textoResultado(r), "", r.avisos)
    : linhaResultado(nome, false, motivoSimples(r.motivo), textoResultado(r), r.avisos);
}

function falha(nome, e) {
  if (e.status === 401) return linhaResultado(nome, false, "Sua sessão terminou. Entre de novo.", "");
  if (e.status === 422)
    return linhaResultado(nome, false, "Nada enviado: o painel mostraria outro texto.", e.message, e.dados && e.dados.avisos);
  return linhaResultado(nome, false, motivoSimples(e.message), `${e.status ? "HTTP " + e.status + ": " : ""}${e.message}`);
}

// `acao(nome, cabecalhos)` sends to one panel and answers the service's outcome.
export async function paraCada(acao, descricao) {
  if (emCurso) return;
  const caixa = $("resultados");
  const nomes = marcados();
  if (nomes.length === 0) {
    caixa.replaceChildren(el("p", "Marque ao menos um painel.", {class: "falha"}));
    return;
  }
  emCurso = true;
  bloquear(true);
  caixa.replaceChildren();
  const cabecalhos = {"Idempotency-Key": chaveNova()};
  try {
    await Promise.all(nomes.map(async (nome) => {
      const linha = el("p", `${nome}: ${descricao}…`);
      caixa.appendChild(linha);
      let pronta;
      try { pronta = resultado(nome, await acao(nome, cabecalhos)); } catch (e) { pronta = falha(nome, e); }
      linha.replaceWith(pronta);
    }));
    lembrar(nomes);
  } finally {
    emCurso = false;
    bloquear(false);
    $("texto").focus();
  }
  carregarPaineis().catch(() => {});
  depois();
}

const rota = (nome, o) => `/api/paineis/${encodeURIComponent(nome)}/${o}`;

export function enviarTexto() {
  const t = $("texto").value;
  if (!t.trim()) {
    $("resultados").replaceChildren(el("p", "Favor editar uma mensagem!!!", {class: "falha"}));
    return;
  }
  paraCada((nome, cabecalhos) => api("POST", rota(nome, "texto"), {texto: t}, cabecalhos), "enviando");
}

export function enviarMensagem(arquivo) {
  paraCada((nome, cabecalhos) => api("POST", rota(nome, "mensagem"), {arquivo}, cabecalhos), "enviando " + arquivo);
}

export function iniciarEnvio() {
  $("enviar").classList.add("envia");
  $("enviar").addEventListener("click", enviarTexto);
  $("texto").addEventListener("keydown", (e) => {
    if (e.key === "Enter" && (e.ctrlKey || e.metaKey)) {
      e.preventDefault();
      enviarTexto();
    }
  });
  for (const b of document.querySelectorAll("button[data-comando]")) {
    b.classList.add("envia");
    b.addEventListener("click", () => paraCada(
      (nome, cabecalhos) => api("POST", rota(nome, "comando"), {comando: b.dataset.comando}, cabecalhos), b.textContent));
  }
}
