// What every part of the page shares: elements, the API and its errors.
export const $ = (id) => document.getElementById(id);

export const el = (nome, filhos, atributos) => {
  const e = document.createElement(nome);
  for (const [k, v] of Object.entries(atributos || {})) e.setAttribute(k, v);
  for (const f of [].concat(filhos ?? [])) e.appendChild(typeof f === "string" ? document.createTextNode(f) : f);
  return e;
};

// An answer that was not a success: its status and what the service said.
export class ErroApi extends Error {
  constructor(status, dados, mensagem) {
    super(mensagem);
    this.status = status;
    this.dados = dados;
  }
}

// Whoever shows the login again when a session is over (a restart, the
// twelve hours): set by the session's part of the page.
let aoPerderSessao = () => {};
export const quandoPerderSessao = (f) => { aoPerderSessao = f; };

export async function api(metodo, caminho, corpo, cabecalhos) {
  let r;
  try {
    r = await fetch(caminho, {
      method: metodo, credentials: "same-origin",
      headers: Object.assign(corpo === undefined ? {} : {"Content-Type": "application/json"}, cabecalhos || {}),
      body: corpo === undefined ? undefined : JSON.stringify(corpo)
    });
  } catch (e) {
    throw new ErroApi(0, null, "sem contato com o serviço (" + e.message + ")");
  }
  const tipo = r.headers.get("Content-Type") || "";
  const dados = tipo.includes("json") ? await r.json().catch(() => null) : await r.text();
  if (r.status === 401 && caminho !== "/api/entrar") {
    aoPerderSessao();
    throw new ErroApi(401, dados, "sessão encerrada");
  }
  if (!r.ok) throw new ErroApi(r.status, dados, (dados && dados.erro) || ("erro " + r.status));
  return dados;
}

// A key for one click: the service answers a repeat of it with the first
// result. crypto.randomUUID needs a secure context, which a shop's plain
// http://192.168… is not; getRandomValues does not.
export function chaveNova() {
  const b = crypto.getRandomValues(new Uint8Array(16));
  return [...b].map((x) => x.toString(16).padStart(2, "0")).join("");
}

export function horaAgora() {
  const d = new Date();
  return String(d.getHours()).padStart(2, "0") + ":" + String(d.getMinutes()).padStart(2, "0");
}

// The panel's failure in a shop assistant's words; the technical reason
// goes behind "detalhes".
export function motivoSimples(tecnico) {
  const t = (tecnico || "").toLowerCase();
  if (t.includes("sessão")) return "Sua sessão terminou. Entre de novo.";
  if (t.includes("sem contato")) return "O serviço do letreiro não respondeu. Veja se o computador dos painéis está ligado.";
  if (t.includes("não respondeu") || t.includes("nenhuma resposta") || t.includes("parou no meio"))
    return "O painel não respondeu. Veja se está ligado e se o cabo está no lugar.";
  if (t.includes("outro endereço")) return "Respondeu outro painel. Confira o endereço configurado.";
  if (t.includes("recusou")) return "O painel recusou a mensagem. Tente de novo.";
  if (t.includes("porta") || t.includes("linha")) return "Não foi possível falar com a linha dos painéis. Veja o cabo ou o conversor.";
  if (t.includes("desconhecido") || t.includes("não existe")) return "Esse painel ou comando não existe mais. Recarregue a página.";
  return "Não foi possível enviar.";
}

// The result's word (enviado, falhou, substituído, expirado, recusado,
// parando) as a sentence, with its reason when there is one.
const palavras = {enviado: "Enviado.", falhou: "Falhou", "substituído": "Substituído por um texto mais novo",
  expirado: "Expirou antes de ir ao painel", recusado: "Recusado", parando: "O serviço está parando"};
export function textoResultado(r) {
  const texto = palavras[r.resultado] || r.resultado;
  return r.motivo && r.resultado !== "enviado" ? `${texto}: ${r.motivo}` : texto;
}

// One outcome, with its time: the plain reason in sight, the technical one
// behind "detalhes".
export function linhaResultado(quem, ok, simples, tecnico, avisos) {
  const p = el("p", `${horaAgora()} ${quem}: ${simples}`, {class: ok ? "ok" : "falha"});
  if (avisos && avisos.length) p.appendChild(document.createTextNode(" Mudou: " + avisos.join("; ") + "."));
  if (tecnico) p.appendChild(el("details", [el("summary", "detalhes"), el("span", tecnico)]));
  return p;
}
