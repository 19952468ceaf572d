// The last exchanges, newest first: a table on a wide screen, cards on a phone.
import {$, api, el, textoResultado} from "./comum.js";

export async function carregarHistorico() {
  const lista = await api("GET", "/api/historico");
  const corpo = $("historico");
  corpo.replaceChildren();
  const celula = (rotulo, v, atributos) => el("td", v, Object.assign({"data-rotulo": rotulo}, atributos || {}));
  for (const h of lista.slice(-50).reverse())
    corpo.appendChild(el("tr", [celula("Quando", h.quando.replace("T", " ")), celula("Quem", h.quem),
      celula("Painel", h.painel), celula("O quê", h.o_que),
      celula("Resultado", textoResultado(h), {class: h.ok ? "ok" : "falha"})]));
}
