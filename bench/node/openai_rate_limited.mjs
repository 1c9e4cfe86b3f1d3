// The same keyword list done with the official openai SDK against a service with a budget: `count`
// keywords, `concurrency` at a time, the SDK's default retries. Prints the seconds it took and how
// many keywords failed.
import OpenAI from 'openai';

const [baseURL, apiKey, count, concurrency] = process.argv.slice(2);
const client = new OpenAI({ baseURL, apiKey });

let next = 0;
let failed = 0;
const start = performance.now();

async function worker() {
  while (next < Number(count)) {
    const keyword = `关键词${next++}`;
    try {
      const stream = await client.chat.completions.create({
        model: 'gpt-4o-mini',
        stream: true,
        messages: [{ role: 'user', content: `请写一篇关于${keyword}的文章` }],
      });
      let text = '';
      for await (const chunk of stream) {
        text += chunk.choices[0]?.delta?.content ?? '';
      }
    } catch {
      ++failed;
    }
  }
}

await Promise.all(Array.from({ length: Number(concurrency) }, worker));
console.log(`${((performance.now() - start) / 1000).toFixed(3)} ${failed}`);
