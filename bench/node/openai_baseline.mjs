// The same keyword list done with the official openai SDK: `count` keywords, `concurrency` at a
// time, each streamed reply saved as a file. Prints the seconds it took.
import OpenAI from 'openai';
import { mkdir, writeFile } from 'node:fs/promises';

const [baseURL, count, concurrency, outDir] = process.argv.slice(2);
const client = new OpenAI({ baseURL, apiKey: 'sk-bench', maxRetries: 0 });
await mkdir(outDir, { recursive: true });

const keywords = Array.from({ length: Number(count) }, (_, i) => `关键词${i}`);
let next = 0;
const start = performance.now();

async function worker() {
  while (next < keywords.length) {
    const keyword = keywords[next++];
    const stream = await client.chat.completions.create({
      model: 'gpt-4o-mini',
      stream: true,
      messages: [{ role: 'user', content: `请写一篇关于${keyword}的文章` }],
    });
    let text = '';
    for await (const chunk of stream) {
      text += chunk.choices[0]?.delta?.content ?? '';
    }
    await writeFile(`${outDir}/${keyword}.txt`, text);
  }
}

await Promise.all(Array.from({ length: Number(concurrency) }, worker));
console.log(((performance.now() - start) / 1000).toFixed(3));
